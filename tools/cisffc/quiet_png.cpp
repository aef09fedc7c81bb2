// libpng prints its warnings (a damaged ancillary chunk, a colour profile it
// does not like) and errors (a truncated file) on stderr unless the program
// that creates the decoder gives it functions of its own, and the image
// library's PNG decoder gives none. The tool explains failures itself, one
// line each, so this executable provides png_create_read_struct: the dynamic
// linker takes it before libpng's, and it creates the decoder with warnings
// ignored and errors unwinding as libpng's own do, without the message. The
// image library still learns that the image could not be read.
#include <dlfcn.h>
#include <png.h>

namespace {

void IgnoreWarning(png_structp, png_const_charp) {}

[[noreturn]] void FailQuietly(png_structp decoder, png_const_charp) { png_longjmp(decoder, 1); }

using CreateReadStruct = png_structp (*)(png_const_charp, png_voidp, png_error_ptr, png_error_ptr);

}  // namespace

extern "C" png_structp png_create_read_struct(png_const_charp version, png_voidp errorPointer, png_error_ptr onError,
                                              png_error_ptr onWarning) {
    static const auto libpng = reinterpret_cast<CreateReadStruct>(::dlsym(RTLD_NEXT, "png_create_read_struct"));
    if (libpng == nullptr) return nullptr;
    return libpng(version, errorPointer, onError != nullptr ? onError : FailQuietly,
                  onWarning != nullptr ? onWarning : IgnoreWarning);
}
