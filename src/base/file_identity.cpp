#include "base/file_identity.h"

#include "base/handle_owner.h"

namespace {

FileId IdOf(const BY_HANDLE_FILE_INFORMATION& info)
{
    return FileId{info.dwVolumeSerialNumber, (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

}  // namespace

std::optional<FileId> FileIdOf(HANDLE opened)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!::GetFileInformationByHandle(opened, &info)) {
        return std::nullopt;
    }
    return IdOf(info);
}

std::optional<FileIdentity> IdentifyFile(const std::wstring& path)
{
    const HandleOwner file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!file.Valid() || !::GetFileInformationByHandle(file.Get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return std::nullopt;
    }
    FileIdentity identity;
    identity.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    identity.lastWrite = (std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) | info.ftLastWriteTime.dwLowDateTime;
    identity.id = IdOf(info);
    return identity;
}
