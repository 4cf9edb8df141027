// Command lines handed to the product's installers.
#pragma once

#include <string>

// A value that holds a space or a tab is put in double quotes by the rules
// CommandLineToArgvW reads back (backslashes before a quote or the closing
// quote are doubled, a quote is escaped); any other value goes in unchanged.
std::wstring QuoteIfBlank(const std::wstring& value);

// "<installer> --install-archive=<package> --log-file=<setup log>  --verbose-logging=true"
std::wstring BuildPatchCommandLine(const std::wstring& installerPath, const std::wstring& packagePath,
                                   const std::wstring& setupLogPath);

// " --log-file=<install log> --verbose-logging=true --disable-installdlg=true
//  --orvantaupdate-installpath=<install path>"; no program name, the package is
// started as the program itself.
std::wstring BuildFullInstallerCommandLine(const std::wstring& installLogPath, const std::wstring& installPath);
