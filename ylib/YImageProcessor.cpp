// CYImageProcessor: the JPEG header read through libjpeg.
#include "ylib/YImageProcessor.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

#include "platform/text.h"
#include "platform/win32/crtio.h"
#include "platform/win32/winerror.h"
#include "ylib/YErrorFrame.h"

namespace {

constexpr char16_t kSource[] = u"YImageProcessor";

// The error state of one header read: the library's error manager first, so
// the library's pointer to it is a pointer to the whole state.
struct JpegErrorState {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  int code = 0;
  char message[1024] = {};
};

// The library's template text for a message code (its own table or an
// add-on table), or null.
const char* MessageTemplate(const jpeg_error_mgr& manager, int code) {
  if (code > 0 && code <= manager.last_jpeg_message && manager.jpeg_message_table) {
    return manager.jpeg_message_table[code];
  }
  if (manager.addon_message_table && code >= manager.first_addon_message && code <= manager.last_addon_message) {
    return manager.addon_message_table[code - manager.first_addon_message];
  }
  return nullptr;
}

// Records the code and its template (placeholders left as they are), releases
// the decompression object and returns to ReadHeader's setjmp.
[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
  auto* state = reinterpret_cast<JpegErrorState*>(cinfo->err);
  state->code = cinfo->err->msg_code;
  const char* text = MessageTemplate(*cinfo->err, state->code);
  std::snprintf(state->message, sizeof state->message, "%s", text ? text : "");
  jpeg_destroy(cinfo);
  std::longjmp(state->jump, 1);
}

// Warnings (a premature end of data among them) are not printed.
void OutputMessage(j_common_ptr) {}

// The size from the header of file. False after a library error, recorded in
// state. Nothing with a destructor lives here: the error exit jumps back into
// this frame.
bool ReadHeader(std::FILE* file, JpegErrorState& state, SIZE& size) {
  jpeg_decompress_struct cinfo;
  cinfo.err = jpeg_std_error(&state.manager);
  state.manager.error_exit = ErrorExit;
  state.manager.output_message = OutputMessage;
  if (setjmp(state.jump)) return false;
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, file);
  // Without requiring image data: a stream of tables alone is no error, and
  // has no size.
  if (jpeg_read_header(&cinfo, FALSE) == JPEG_HEADER_OK) {
    size.cx = static_cast<LONG>(cinfo.image_width);
    size.cy = static_cast<LONG>(cinfo.image_height);
  }
  jpeg_destroy_decompress(&cinfo);
  return true;
}

}  // namespace

SIZE CYImageProcessor::GetJPEGImageSize(std::u16string_view path) {
  return YErrorFrame(VEL_FRAME(u"CYImageProcessor::GetJPEGImageSize"), [&](const YFrame& frame) -> SIZE {
    const std::u16string name(path);
    std::FILE* file = _wfopen(name.c_str(), u"rb");
    // Whatever kept the file from opening, the report names a missing file.
    if (file == nullptr) throw YReportWin32(ERROR_FILE_NOT_FOUND, frame).AddDetail(u"File", path);
    SIZE size{0, 0};
    JpegErrorState state;
    const bool read = ReadHeader(file, state, size);
    std::fclose(file);
    if (!read) {
      throw YReport(kYErrJpegCorrupt, frame)
          .AddDetail(u"LibJPEGErrorCode", state.code, false)
          .AddDetail(u"LibJPEGErrorMessage", vel::FromUtf8(state.message))
          .AddDetail(u"Filename", path);
    }
    return size;
  });
}
