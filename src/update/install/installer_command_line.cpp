#include "update/install/installer_command_line.h"

std::wstring QuoteIfBlank(const std::wstring& value)
{
    if (value.find_first_of(L" \t") == std::wstring::npos) {
        return value;
    }
    std::wstring quoted(1, L'"');
    std::size_t backslashes = 0;
    for (const wchar_t c : value) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            // Each backslash before a quote is doubled, and the quote itself escaped.
            quoted.append(backslashes * 2 + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        backslashes = 0;
        quoted.push_back(c);
    }
    // Backslashes before the closing quote are doubled so they stay literal.
    quoted.append(backslashes * 2, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

std::wstring BuildPatchCommandLine(const std::wstring& installerPath, const std::wstring& packagePath,
                                   const std::wstring& setupLogPath)
{
    return QuoteIfBlank(installerPath) + L" --install-archive=" + QuoteIfBlank(packagePath) + L" --log-file=" +
           QuoteIfBlank(setupLogPath) + L" " + L" --verbose-logging=true";
}

std::wstring BuildFullInstallerCommandLine(const std::wstring& installLogPath, const std::wstring& installPath)
{
    return L" --log-file=" + QuoteIfBlank(installLogPath) + L" --verbose-logging=true" +
           L" --disable-installdlg=true" + L" --orvantaupdate-installpath=" + QuoteIfBlank(installPath);
}
