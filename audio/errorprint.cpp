#include "audio/errorprint.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/messages.h"

void ErrorPrint(const char* pszFormat, ...) {
    if (!pszFormat) {
        platform::ShowMessage("ErrorPrint: no message format given",
                              platform::MessageIcon::Exclamation);
        return;
    }
    std::va_list args;
    va_start(args, pszFormat);
    std::va_list argsAgain;
    va_copy(argsAgain, args);
    const int nLength = std::vsnprintf(nullptr, 0, pszFormat, args);
    va_end(args);
    std::string strText;
    if (nLength > 0) {
        strText.resize(size_t(nLength));
        std::vsnprintf(strText.data(), size_t(nLength) + 1, pszFormat, argsAgain);
    } else if (nLength < 0) {
        strText = std::string("ErrorPrint: cannot format \"") + pszFormat + "\"";
    }
    va_end(argsAgain);
    platform::ShowMessage(strText, platform::MessageIcon::Exclamation);
}
