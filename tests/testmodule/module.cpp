// A tiny loadable module for the plug-in loader's tests. It exports a few
// plain C symbols and counts its own unloading through a pointer the test
// hands it, so the test can see exactly when the loader lets it go.
extern "C" {

__attribute__((visibility("default"))) int vexlarTestValue = 7;
__attribute__((visibility("default"))) int* vexlarTestUnloadCounter = nullptr;

__attribute__((visibility("default"))) int vexlarTestAnswer() {
    return 42;
}

__attribute__((visibility("default"))) int vexlarTestTwice(int x) {
    return 2 * x;
}

__attribute__((destructor)) static void vexlarTestOnUnload() {
    if (vexlarTestUnloadCounter) ++*vexlarTestUnloadCounter;
}
}
