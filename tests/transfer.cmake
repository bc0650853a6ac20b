# The transfer tests inspect compressed messages themselves.
find_package(ZLIB REQUIRED)
find_package(Threads REQUIRED)
target_link_libraries(test_transfer PRIVATE ZLIB::ZLIB Threads::Threads)
