// The process-wide diagnostic log. Off unless the entry point enables it;
// while off, every write is accepted and dropped, so writers never test for it.
#pragma once

#include "base/handle_owner.h"
#include "log/log_text.h"

#include <string>
#include <type_traits>

// Append-only UTF-8 log file. Pieces go out one after another with nothing
// added between them, each written through at once, so a run that is killed
// or crashes still leaves its story.
class LogStream {
public:
    LogStream() = default;
    ~LogStream();
    LogStream(const LogStream&) = delete;
    LogStream& operator=(const LogStream&) = delete;

    bool Open(const std::wstring& path);
    void Close();
    bool IsOpen() const { return file_.Valid(); }

    LogStream& operator<<(const wchar_t* text);
    LogStream& operator<<(const std::wstring& text);
    template <typename T, typename = std::enable_if_t<std::is_integral<T>::value && !std::is_same<T, wchar_t>::value &&
                                                      !std::is_same<T, bool>::value>>
    LogStream& operator<<(T number)
    {
        return WriteNumber(std::is_signed<T>::value, static_cast<long long>(number),
                           static_cast<unsigned long long>(number));
    }

private:
    LogStream& WriteNumber(bool isSigned, long long signedValue, unsigned long long unsignedValue);
    void Write(const wchar_t* text, std::size_t length);
    void WriteBytes(const std::string& bytes);

    HandleOwner file_;  // invalid while the log is off
    Utf8LogEncoder encoder_;
};

class UpdateLog {
public:
    UpdateLog();
    ~UpdateLog();
    UpdateLog(const UpdateLog&) = delete;
    UpdateLog& operator=(const UpdateLog&) = delete;

    // Creates <module dir>\updatelog\<tick count>\ and opens _velmarupdate.log in it.
    void Enable();
    LogStream& Stream() { return stream_; }
    std::wstring SetupLogPath() const { return setupLogPath_; }
    std::wstring InstallLogPath() const { return installLogPath_; }
    // Folder of the running executable, without a trailing backslash; empty if unknown.
    const std::wstring& ModuleDirectory() const { return moduleDirectory_; }

    // What Enable() does, under a given folder and tick count; tests call it directly.
    void EnableAt(const std::wstring& baseDirectory, unsigned long tickCount);

private:
    std::wstring moduleDirectory_;
    std::wstring setupLogPath_;
    std::wstring installLogPath_;
    LogStream stream_;
};

extern UpdateLog g_updateLog;
