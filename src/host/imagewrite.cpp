#include "host/imagewrite.h"

#include <cctype>
#include <cerrno>
#include <csetjmp>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <png.h>

#include "host/quiet.h"
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

imageFormat_t formatOf(const std::string& path) {
    std::string ext = lowerExtension(path);
    if (ext == ".png") return imageFormat_t::png;
    if (ext == ".tga") return imageFormat_t::tga;
    return imageFormat_t::unknown;
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

bool atomicFile_t::open(const std::string& targetPath, std::string& error) {
    discard();
    target = targetPath;
    std::size_t slash = target.rfind('/');
    std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    // Hidden, and named after the target, so a left-over file (after a
    // crash) says where it came from.
    std::string pattern = dir + "." + base + ".tmp-XXXXXX";
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

bool atomicFile_t::commit(std::string& error) {
    if (fd < 0) {
        error = "no temporary file";
        return false;
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
    if (!temp.empty()) {
        unlink(temp.c_str());
        temp.clear();
    }
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

// Kept free of objects with destructors: libpng reports errors by
// longjmp, which would skip them.
bool writePngRaw(std::FILE* out, const unsigned char* rgba, int width, int height, bool alpha,
                 unsigned char* row, pngFailure_t& failure) {
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
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const int channels = alpha ? 4 : 3;
    for (int y = 0; y < height; ++y) {
        const unsigned char* src = rgba + static_cast<std::size_t>(y) * static_cast<std::size_t>(width) * 4;
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c)
                row[static_cast<std::size_t>(x) * static_cast<std::size_t>(channels) +
                    static_cast<std::size_t>(c)] =
                    src[4 * static_cast<std::size_t>(x) + static_cast<std::size_t>(c)];
        png_write_row(png, row);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

bool writePng(std::FILE* out, const cBuffer_t& image, bool alpha, std::string& error) {
    std::vector<unsigned char> row(static_cast<std::size_t>(image.resx) * 4);
    pngFailure_t failure;
    failure.message[0] = '\0';
    if (!writePngRaw(out, image.data, image.resx, image.resy, alpha, row.data(), failure)) {
        error = failure.message;
        return false;
    }
    if (std::fflush(out) != 0 || std::ferror(out)) {
        error = systemError();
        return false;
    }
    return true;
}

bool writeImageTo(atomicFile_t& file, const cBuffer_t& image, imageFormat_t format, bool alpha,
                  std::string& error) {
    if (format == imageFormat_t::png) {
        std::FILE* out = std::fopen(file.tempPath().c_str(), "wb");
        if (!out) {
            error = systemError();
            return false;
        }
        bool ok = writePng(out, image, alpha, error);
        if (std::fclose(out) != 0 && ok) {
            error = systemError();
            ok = false;
        }
        return ok;
    }
    if (format == imageFormat_t::tga) {
        outTga_t tga(image.resx, image.resy, file.tempPath().c_str(), alpha);
        const std::size_t n = static_cast<std::size_t>(image.resx) * static_cast<std::size_t>(image.resy);
        // Bytes straight across: unpacking to colours and packing again
        // could lose a step through rounding.
        for (std::size_t p = 0; p < n; ++p) {
            for (std::size_t c = 0; c < 3; ++c) tga.data[3 * p + c] = image.data[4 * p + c];
            if (alpha) tga.alphaBuffer[p] = image.data[4 * p + 3];
        }
        bool written;
        {
            // The writer announces the temporary file's name; the program
            // reports the real one itself.
            quietScope_t quiet(true);
            written = tga.flush();
        }
        if (!written) {
            error = "the TGA writer failed (disk full, or a side longer than 65535 pixels)";
            return false;
        }
        return true;
    }
    error = "unsupported image format (use a .png or .tga file name)";
    return false;
}

bool saveImage(const std::string& path, const cBuffer_t& image, bool alpha, std::string& error) {
    imageFormat_t format = formatOf(path);
    if (format == imageFormat_t::unknown) {
        error = "cannot write \"" + path + "\": unsupported image format (use a .png or .tga file name)";
        return false;
    }
    atomicFile_t file;
    std::string why;
    if (!file.open(path, why) || !writeImageTo(file, image, format, alpha, why) || !file.commit(why)) {
        error = "cannot write \"" + path + "\": " + why;
        return false;
    }
    return true;
}

} // namespace host
} // namespace vexlar
