// The audio library's diagnostic for the user.
#pragma once

// Formats like printf and shows the text in a message box with the exclamation icon; returns
// when the user has closed it. Callable from any thread. The format is checked at compile time.
void ErrorPrint(const char* pszFormat, ...) __attribute__((format(printf, 1, 2)));
