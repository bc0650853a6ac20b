#include "host/imagewrite.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csetjmp>
#include <cstring>
#include <filesystem>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <png.h>

#include "host/floatwrite.h"
#include "vexlarcore/output.h"

namespace vexlar {
namespace host {

namespace {

std::string lowerExtension(const std::string& path) {
    std::size_t slash = path.rfind('/');
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string();
    std::string ext = path.substr(dot);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

std::string systemError() {
    return std::strerror(errno);
}

} // namespace

const std::vector<formatInfo_t>& imageFormats() {
    static const std::vector<formatInfo_t> formats = {
        {imageFormat_t::png,
         ".png",
         "PNG, 8 or 16 bits a channel (output.bits), RGB or RGBA, tagged with its encoding (sRGB chunk or "
         "gAMA)",
         {8, 16},
         false,
         true,
         true},
        {imageFormat_t::tga, ".tga", "Truevision TGA, 8 bits a channel, RGB or RGBA", {8}, false, true, true},
        {imageFormat_t::exr,
         ".exr",
         "OpenEXR, linear RGB or RGBA as half (output.bits 16) or float (32) and the depth as Z",
         {16, 32},
         true,
         true,
         exrAvailable()},
        {imageFormat_t::hdr, ".hdr", "Radiance RGBE, linear RGB", {32}, true, false, true},
        {imageFormat_t::pfm,
         ".pfm",
         "portable float map, linear RGB as 32-bit floats",
         {32},
         true,
         false,
         true},
    };
    return formats;
}

const formatInfo_t* formatInfo(imageFormat_t format) {
    for (const formatInfo_t& f : imageFormats())
        if (f.format == format) return &f;
    return nullptr;
}

imageFormat_t formatOf(const std::string& path) {
    const std::string ext = lowerExtension(path);
    for (const formatInfo_t& f : imageFormats())
        if (ext == f.extension) return f.format;
    return imageFormat_t::unknown;
}

std::string formatAdvice() {
    std::vector<std::string> names;
    for (const formatInfo_t& f : imageFormats())
        if (f.available) names.push_back(f.extension);
    std::string s = "use a ";
    for (std::size_t i = 0; i < names.size(); ++i)
        s += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
    return s + " file name";
}

std::string formatListText() {
    std::ostringstream s;
    s << "Image formats, chosen by the output file's extension:\n";
    for (const formatInfo_t& f : imageFormats()) {
        s << "  " << f.extension << "  " << f.summary;
        if (!f.available) s << " (not in this build: it was built without OpenEXR)";
        s << "\n";
    }
    s << "8- and 16-bit files get output.color (default srgb), output.exposure and output.tonemap;\n"
         "floating-point files store linear values after output.exposure.\n";
    return s.str();
}

bool checkOutput(const std::string& path, const outputSettings_t& settings, std::string& error,
                 std::vector<std::string>& notes) {
    const formatInfo_t* f = formatInfo(formatOf(path));
    const std::string where = "cannot write \"" + path + "\": ";
    if (!f) {
        error = where + "unsupported image format (" + formatAdvice() + ")";
        return false;
    }
    if (!f->available) {
        error = where + "this vexlar was built without OpenEXR (" + formatAdvice() + ")";
        return false;
    }
    if (settings.bits != 0 && std::find(f->bits.begin(), f->bits.end(), settings.bits) == f->bits.end()) {
        std::string allowed;
        for (int b : f->bits) allowed += (allowed.empty() ? "" : " or ") + std::to_string(b);
        error = where + "output.bits " + std::to_string(settings.bits) + " is not possible in " +
                f->extension + " files (" + allowed + ")";
        return false;
    }
    if (settings.alpha && !f->hasAlpha)
        notes.push_back(std::string(f->extension) + " files have no alpha channel; the alpha is not saved");
    if (settings.colorSet && f->floatingPoint)
        notes.push_back("output.color and output.tonemap do not apply to " + std::string(f->extension) +
                        " files, which store linear values");
    return true;
}

std::string partialName(const std::string& path) {
    std::size_t slash = path.rfind('/');
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + ".partial";
    return path.substr(0, dot) + ".partial" + path.substr(dot);
}

atomicFile_t::~atomicFile_t() {
    discard();
}

namespace {

// The file a path names once its symbolic links are followed (to the end of
// the chain, even when the last link dangles): writing replaces that file
// and leaves the links in place.
std::string followLinks(const std::string& path) {
    std::filesystem::path p(path);
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!std::filesystem::is_symlink(p, ec)) break;
        std::filesystem::path to = std::filesystem::read_symlink(p, ec);
        if (ec) break;
        p = to.is_absolute() ? to : p.parent_path() / to;
    }
    return p.string();
}

} // namespace

bool atomicFile_t::open(const std::string& targetPath, std::string& error) {
    discard();
    target = followLinks(targetPath);
    struct stat st;
    if (stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        error = "it is a folder";
        return false;
    }
    std::size_t slash = target.rfind('/');
    std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    // Hidden, and named after the target, so a left-over file (after a
    // crash) says where it came from.
    std::string pattern = dir + "." + base + ".tmp-XXXXXX";
    if (openInPlace(error)) return fd >= 0;
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd = mkstemp(name.data());
    if (fd < 0) {
        error = systemError();
        return false;
    }
    temp = name.data();
    // mkstemp creates the file for the owner only; give it the permissions
    // a plain new file gets.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    return true;
}

// A target that exists and is neither a regular file nor a folder (a
// device such as /dev/full or /dev/null, a FIFO, also through a symbolic
// link) has no file to replace: it is written in place, and its own
// failures (a full device) are reported. True when that is the case (`fd`
// tells whether it opened).
bool atomicFile_t::openInPlace(std::string& error) {
    struct stat st;
    if (stat(target.c_str(), &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) return false;
    fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        error = systemError();
        return true;
    }
    temp = target;
    inPlace = true;
    return true;
}

bool atomicFile_t::commit(std::string& error) {
    if (fd < 0) {
        error = "no temporary file";
        return false;
    }
    if (inPlace) {
        close(fd);
        fd = -1;
        temp.clear();
        inPlace = false;
        return true;
    }
    // The content goes through the writers' own streams (by name); flush
    // what reached the file to disk before it takes the target's name.
    if (fsync(fd) != 0 && errno != EINVAL) {
        error = systemError();
        return false;
    }
    close(fd);
    fd = -1;
    if (std::rename(temp.c_str(), target.c_str()) != 0) {
        error = systemError();
        unlink(temp.c_str());
        temp.clear();
        return false;
    }
    temp.clear();
    return true;
}

void atomicFile_t::discard() {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
    if (!temp.empty() && !inPlace) unlink(temp.c_str());
    temp.clear();
    inPlace = false;
}

namespace {

struct pngFailure_t {
    std::jmp_buf jump;
    char message[256];
};

void pngError(png_structp png, png_const_charp text) {
    pngFailure_t* f = static_cast<pngFailure_t*>(png_get_error_ptr(png));
    std::snprintf(f->message, sizeof f->message, "%s", text);
    std::longjmp(f->jump, 1);
}

void pngWarning(png_structp, png_const_charp) {}

// What the PNG file says about its encoding: 0 nothing, 1 the sRGB chunk
// (with the gAMA and cHRM chunks that go with it), 2 a gAMA chunk.
struct pngTag_t {
    int kind;
    double fileGamma;
};

pngTag_t tagFor(const outputColor_t* c) {
    if (!c) return pngTag_t{0, 0.0};
    switch (c->transfer) {
    case transfer_t::srgb:
        return pngTag_t{1, 0.0};
    case transfer_t::linear:
        return pngTag_t{2, 1.0};
    case transfer_t::gamma:
        break;
    }
    // PNG records the exponent that encoded the values: 1 / display gamma.
    return pngTag_t{2, 1.0 / static_cast<double>(c->displayGamma)};
}

// The samples of one file: 8-bit bytes or 16-bit values, four a pixel.
struct pngSamples_t {
    const unsigned char* bytes;
    const std::uint16_t* words;
    int width;
    int height;
    bool alpha;
    pngTag_t tag;
};

// Kept free of objects with destructors: libpng reports errors by
// longjmp, which would skip them. `row` holds one file row.
bool writePngRaw(std::FILE* out, const pngSamples_t& in, unsigned char* row, pngFailure_t& failure) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &failure, pngError, pngWarning);
    if (!png) {
        std::snprintf(failure.message, sizeof failure.message, "out of memory");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        std::snprintf(failure.message, sizeof failure.message, "out of memory");
        return false;
    }
    if (setjmp(failure.jump)) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, out);
    png_set_IHDR(png, info, static_cast<png_uint_32>(in.width), static_cast<png_uint_32>(in.height),
                 in.words ? 16 : 8, in.alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (in.tag.kind == 1) png_set_sRGB_gAMA_and_cHRM(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
    if (in.tag.kind == 2) png_set_gAMA(png, info, in.tag.fileGamma);
    png_write_info(png, info);
    const std::size_t channels = in.alpha ? 4 : 3;
    const std::size_t width = static_cast<std::size_t>(in.width);
    for (std::size_t y = 0; y < static_cast<std::size_t>(in.height); ++y) {
        const std::size_t first = y * width * 4;
        unsigned char* o = row;
        for (std::size_t x = 0; x < width; ++x)
            for (std::size_t c = 0; c < channels; ++c) {
                const std::size_t i = first + 4 * x + c;
                if (in.words) {
                    // PNG stores 16-bit samples most significant byte first.
                    *o++ = static_cast<unsigned char>(in.words[i] >> 8);
                    *o++ = static_cast<unsigned char>(in.words[i] & 0xff);
                } else {
                    *o++ = in.bytes[i];
                }
            }
        png_write_row(png, row);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

bool writePngSamples(std::FILE* out, const pngSamples_t& in, std::string& error) {
    std::vector<unsigned char> row(static_cast<std::size_t>(in.width) * (in.words ? 8 : 4));
    pngFailure_t failure;
    failure.message[0] = '\0';
    if (!writePngRaw(out, in, row.data(), failure)) {
        error = failure.message;
        return false;
    }
    if (std::fflush(out) != 0 || std::ferror(out)) {
        error = systemError();
        return false;
    }
    return true;
}

// Opens the temporary file of `file` as a stream for `write` and closes it,
// reporting the first failure.
template <class write_f> bool writeStream(atomicFile_t& file, std::string& error, write_f write) {
    std::FILE* out = std::fopen(file.tempPath().c_str(), "wb");
    if (!out) {
        error = systemError();
        return false;
    }
    bool ok = write(out);
    if (std::fclose(out) != 0 && ok) {
        error = systemError();
        ok = false;
    }
    return ok;
}

bool writeTga(atomicFile_t& file, const cBuffer_t& image, bool alpha, std::string& error) {
    outTga_t tga(image.resx, image.resy, file.tempPath().c_str(), alpha);
    const std::size_t n = static_cast<std::size_t>(image.resx) * static_cast<std::size_t>(image.resy);
    // Bytes straight across: unpacking to colours and packing again
    // could lose a step through rounding.
    for (std::size_t p = 0; p < n; ++p) {
        for (std::size_t c = 0; c < 3; ++c) tga.data[3 * p + c] = image.data[4 * p + c];
        if (alpha) tga.alphaBuffer[p] = image.data[4 * p + 3];
    }
    // The writer's "Saving Targa file as" names the temporary file: set-up
    // chatter, which the program shows only when asked to be verbose.
    if (!tga.flush()) {
        error = "the TGA writer failed (disk full, or a side longer than 65535 pixels)";
        return false;
    }
    return true;
}

} // namespace

bool writePng(std::FILE* out, const cBuffer_t& image, bool alpha, std::string& error,
              const outputColor_t* tag) {
    return writePngSamples(out, pngSamples_t{image.data, nullptr, image.resx, image.resy, alpha, tagFor(tag)},
                           error);
}

bool writePng16(std::FILE* out, const std::vector<std::uint16_t>& rgba, int width, int height, bool alpha,
                const outputColor_t& tag, std::string& error) {
    return writePngSamples(out, pngSamples_t{nullptr, rgba.data(), width, height, alpha, tagFor(&tag)},
                           error);
}

bool writeImageTo(atomicFile_t& file, const cBuffer_t& image, imageFormat_t format, bool alpha,
                  std::string& error, const outputColor_t* tag) {
    if (format == imageFormat_t::png)
        return writeStream(file, error,
                           [&](std::FILE* out) { return writePng(out, image, alpha, error, tag); });
    if (format == imageFormat_t::tga) return writeTga(file, image, alpha, error);
    error = "8-bit data goes to .png or .tga files only";
    return false;
}

bool writeImageTo(atomicFile_t& file, imageFormat_t format, const floatImage_t& image, const fBuffer_t* depth,
                  const outputSettings_t& settings, std::string& error) {
    const formatInfo_t* info = formatInfo(format);
    if (!info) {
        error = "unsupported image format (" + formatAdvice() + ")";
        return false;
    }
    const int bits = settings.bits != 0 ? settings.bits : info->bits.front();
    const bool alpha = settings.alpha && info->hasAlpha;
    switch (format) {
    case imageFormat_t::png:
    case imageFormat_t::tga:
        if (bits == 16) {
            std::vector<std::uint16_t> words;
            encode16(image, settings.color, words);
            return writeStream(file, error, [&](std::FILE* out) {
                return writePng16(out, words, image.width, image.height, alpha, settings.color, error);
            });
        } else {
            cBuffer_t bytes(image.width, image.height);
            encode8(image, settings.color, bytes);
            return writeImageTo(file, bytes, format, alpha, error, &settings.color);
        }
    case imageFormat_t::exr:
        return writeExr(file.tempPath(), encodeLinear(image, settings.color, alpha), depth, alpha, bits == 32,
                        error);
    case imageFormat_t::hdr:
    case imageFormat_t::pfm: {
        const floatImage_t linear = encodeLinear(image, settings.color, false);
        return writeStream(file, error, [&](std::FILE* out) {
            return format == imageFormat_t::hdr ? writeRgbe(out, linear, error)
                                                : writePfm(out, linear, error);
        });
    }
    case imageFormat_t::unknown:
        break;
    }
    return false;
}

namespace {

template <class write_f> bool saveWith(const std::string& path, std::string& error, write_f write) {
    atomicFile_t file;
    std::string why;
    if (!file.open(path, why) || !write(file, why) || !file.commit(why)) {
        error = "cannot write \"" + path + "\": " + why;
        return false;
    }
    return true;
}

} // namespace

bool saveImage(const std::string& path, const cBuffer_t& image, bool alpha, std::string& error) {
    imageFormat_t format = formatOf(path);
    if (format != imageFormat_t::png && format != imageFormat_t::tga) {
        error = "cannot write \"" + path +
                "\": unsupported image format for 8-bit data (use a .png or .tga file name)";
        return false;
    }
    return saveWith(path, error, [&](atomicFile_t& file, std::string& why) {
        return writeImageTo(file, image, format, alpha, why);
    });
}

bool saveImage(const std::string& path, const floatImage_t& image, const fBuffer_t* depth,
               const outputSettings_t& settings, std::string& error) {
    std::vector<std::string> notes;
    if (!checkOutput(path, settings, error, notes)) return false;
    return saveWith(path, error, [&](atomicFile_t& file, std::string& why) {
        return writeImageTo(file, formatOf(path), image, depth, settings, why);
    });
}

} // namespace host
} // namespace vexlar
