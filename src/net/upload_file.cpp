#include "net/upload_file.h"

#include <algorithm>
#include <vector>

namespace {

constexpr DWORD kPieceBytes = 1024 * 1024;

bool FileSize(HANDLE file, std::uint64_t& size)
{
    LARGE_INTEGER length = {};
    if (!::GetFileSizeEx(file, &length) || length.QuadPart < 0) {
        return false;
    }
    size = static_cast<std::uint64_t>(length.QuadPart);
    return true;
}

}  // namespace

HandleOwner OpenUploadFile(const std::wstring& path, std::uint64_t& size)
{
    size = 0;
    if (path.empty()) {
        return HandleOwner();
    }
    HandleOwner file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.Valid() || !FileSize(file.Get(), size) || size == 0) {
        size = 0;
        return HandleOwner();
    }
    return file;
}

bool SendFileBytes(HANDLE file, std::uint64_t size, const std::function<bool(const char*, DWORD)>& send,
                   TransferEnd& why, DWORD& error)
{
    std::vector<char> piece(static_cast<std::size_t>(std::min<std::uint64_t>(size, kPieceBytes)));
    std::uint64_t left = size;
    while (left > 0) {
        const DWORD want = static_cast<DWORD>(std::min<std::uint64_t>(left, kPieceBytes));
        DWORD got = 0;
        if (!::ReadFile(file, piece.data(), want, &got, nullptr)) {
            error = ::GetLastError();
            why = TransferEnd::WindowsError;
            return false;
        }
        if (got == 0) {
            why = TransferEnd::SourceChanged;  // shrunk since it was opened
            return false;
        }
        if (!send(piece.data(), got)) {
            return false;
        }
        left -= got;
    }
    std::uint64_t now = 0;
    if (!FileSize(file, now)) {
        error = ::GetLastError();
        why = TransferEnd::WindowsError;
        return false;
    }
    if (now != size) {
        why = TransferEnd::SourceChanged;
        return false;
    }
    return true;
}
