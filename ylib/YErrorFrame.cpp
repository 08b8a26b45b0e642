#include "ylib/YErrorFrame.h"

#include <exception>
#include <string>

#include "platform/com/comdef.h"
#include "platform/text.h"

CYException YCurrentExceptionAsReport(const YFrame& f) {
  try {
    throw;
  } catch (const _com_error& e) {
    CYException x(e);
    x.AddEntry(u"", kYErrStackEntry.code, f.source, f.line, f.function);
    return x;
  } catch (CYException& x) {
    x.AddEntry(kYErrStackEntry.message, kYErrStackEntry.code, f.source, f.line, f.function);
    return std::move(x);
  } catch (const std::exception& e) {
    const char* what = e.what();
    return CYException(std::u16string(kYErrStdException.message) + vel::FromUtf8(what ? what : ""),
                       kYErrStdException.code, f.source, f.line, f.function);
  } catch (const char* s) {
    return CYException(std::u16string(kYErrCharException.message) + vel::FromUtf8(s ? s : ""),
                       kYErrCharException.code, f.source, f.line, f.function);
  } catch (const char16_t* s) {
    return CYException(std::u16string(kYErrWideCharException.message) + (s ? s : u""),
                       kYErrWideCharException.code, f.source, f.line, f.function);
  } catch (...) {
    return CYException(kYErrUnknownException.message, kYErrUnknownException.code, f.source, f.line, f.function);
  }
}

CYException YReport(std::u16string_view message, std::int32_t code, const YFrame& f) {
  return CYException(message, code, f.source, f.line, f.function);
}

CYException YReport(const YErrorDef& error, const YFrame& f) { return YReport(error.message, error.code, f); }

void YThrow(std::u16string_view message, std::int32_t code, const YFrame& f) { throw YReport(message, code, f); }

void YThrow(const YErrorDef& error, const YFrame& f) { throw YReport(error, f); }
