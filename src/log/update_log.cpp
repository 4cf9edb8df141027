#include "log/update_log.h"

#include "base/file_io.h"

#include <windows.h>

#include <cwchar>

UpdateLog g_updateLog;

namespace {

std::wstring FindModuleDirectory()
{
    wchar_t path[MAX_PATH] = {};
    if (::GetModuleFileNameW(nullptr, path, MAX_PATH) == 0) {
        return std::wstring();
    }
    const wchar_t* lastBackslash = std::wcsrchr(path, L'\\');
    if (lastBackslash == nullptr) {
        return std::wstring();
    }
    return std::wstring(path, static_cast<std::size_t>(lastBackslash - path));
}

}  // namespace

LogStream::~LogStream() { Close(); }

bool LogStream::Open(const std::wstring& path)
{
    Close();
    file_.Reset(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    return file_.Valid();
}

void LogStream::Close()
{
    if (!file_.Valid()) {
        return;
    }
    std::string rest;
    encoder_.Finish(rest);
    WriteBytes(rest);
    file_.Reset();
}

void LogStream::WriteBytes(const std::string& bytes)
{
    // A full disk loses log text, never the run.
    WriteAllBytes(file_.Get(), bytes.data(), bytes.size());
}

void LogStream::Write(const wchar_t* text, std::size_t length)
{
    if (!file_.Valid()) {
        return;
    }
    std::string bytes;
    encoder_.Append(text, length, bytes);
    WriteBytes(bytes);
}

LogStream& LogStream::operator<<(const wchar_t* text)
{
    if (text != nullptr) {
        Write(text, std::wcslen(text));
    }
    return *this;
}

LogStream& LogStream::operator<<(const std::wstring& text)
{
    Write(text.data(), text.size());
    return *this;
}

LogStream& LogStream::WriteNumber(bool isSigned, long long signedValue, unsigned long long unsignedValue)
{
    wchar_t digits[32] = {};
    if (isSigned) {
        std::swprintf(digits, 32, L"%lld", signedValue);
    } else {
        std::swprintf(digits, 32, L"%llu", unsignedValue);
    }
    return *this << digits;
}

UpdateLog::UpdateLog() : moduleDirectory_(FindModuleDirectory()) {}

UpdateLog::~UpdateLog() { stream_.Close(); }

void UpdateLog::Enable() { EnableAt(moduleDirectory_, ::GetTickCount()); }

void UpdateLog::EnableAt(const std::wstring& baseDirectory, unsigned long tickCount)
{
    if (baseDirectory.empty()) {
        return;
    }
    std::wstring runFolder;
    try {
        wchar_t tickText[MAX_PATH] = {};
        std::swprintf(tickText, MAX_PATH, L"%lu", tickCount);
        const std::wstring logFolder = baseDirectory + L"\\updatelog";
        runFolder = logFolder + L"\\" + tickText;
        // Results ignored: an existing folder is what later runs meet, and a folder
        // that cannot be made only makes the open below fail.
        ::CreateDirectoryW(logFolder.c_str(), nullptr);
        ::CreateDirectoryW(runFolder.c_str(), nullptr);
        setupLogPath_ = runFolder + L"\\_setup.log";
        installLogPath_ = runFolder + L"\\_install.log";
        stream_.Open(runFolder + L"\\_velmarupdate.log");
    } catch (...) {
        ::OutputDebugStringW(runFolder.c_str());
    }
}
