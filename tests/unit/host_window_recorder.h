// A host window inside the test process: a message-only window on the test's
// own thread, so SendMessageW reaches it at once. Records each WM_COPYDATA.
#pragma once

#include "update/host_messages.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

struct RecordedCopyData {
    long long wParam = 0;
    unsigned long long dwData = 0;
    unsigned long cbData = 0;
    std::vector<unsigned char> bytes;

    // The text up to the first zero unit.
    std::wstring Text() const
    {
        std::wstring text;
        for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
            const wchar_t unit = static_cast<wchar_t>(bytes[i] | (bytes[i + 1] << 8));
            if (unit == L'\0') {
                break;
            }
            text += unit;
        }
        return text;
    }
};

class HostWindowRecorder {
public:
    HostWindowRecorder()
    {
        static const ATOM windowClass = RegisterOnce();
        window_ = ::CreateWindowExW(0, MAKEINTATOM(windowClass), L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    ::GetModuleHandleW(nullptr), nullptr);
        ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~HostWindowRecorder()
    {
        if (g_hHostWnd == window_) {
            g_hHostWnd = nullptr;
        }
        ::DestroyWindow(window_);
    }
    HostWindowRecorder(const HostWindowRecorder&) = delete;
    HostWindowRecorder& operator=(const HostWindowRecorder&) = delete;

    HWND Window() const { return window_; }
    std::vector<std::wstring> Texts() const
    {
        std::vector<std::wstring> texts;
        for (const RecordedCopyData& message : messages) {
            texts.push_back(message.Text());
        }
        return texts;
    }

    std::vector<RecordedCopyData> messages;
    std::function<void()> onMessage;  // runs while the sender waits
    LRESULT reply = TRUE;

private:
    static ATOM RegisterOnce()
    {
        WNDCLASSEXW windowClass = {};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = &Procedure;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"VelmarTestHostRecorder";
        return ::RegisterClassExW(&windowClass);
    }

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto* self = reinterpret_cast<HostWindowRecorder*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message != WM_COPYDATA || self == nullptr || lParam == 0) {
            return ::DefWindowProcW(window, message, wParam, lParam);
        }
        const auto& data = *reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        RecordedCopyData record;
        record.wParam = static_cast<long long>(static_cast<INT_PTR>(wParam));
        record.dwData = data.dwData;
        record.cbData = data.cbData;
        const auto* bytes = static_cast<const unsigned char*>(data.lpData);
        if (bytes != nullptr) {
            record.bytes.assign(bytes, bytes + data.cbData);
        }
        self->messages.push_back(record);
        if (self->onMessage) {
            self->onMessage();
        }
        return self->reply;
    }

    HWND window_ = nullptr;
};
