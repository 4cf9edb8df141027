#include "update/package_download.h"

#include "base/file_io.h"
#include "base/handle_owner.h"
#include "base/random.h"
#include "log/update_log.h"
#include "net/http_exchange.h"
#include "update/package_location.h"
#include "update/signature_check.h"

#include <windows.h>

#include <algorithm>
#include <memory>

namespace {

constexpr std::uint32_t kFolderNumbers = 32768;
constexpr int kFolderDraws = 8;

// Writes the package to its file and, when it is bound, hashes it on the way:
// the bytes are never read a second time.
class PackageSink : public ResponseSink {
public:
    PackageSink(std::wstring path, const std::optional<PackageBinding>& binding)
        : path_(std::move(path)), binding_(binding)
    {
    }

    TransferEnd Begin(const ResponseHead& head) override
    {
        if (binding_ && head.contentLength && *head.contentLength != binding_->size) {
            return TransferEnd::WrongLength;
        }
        file_.Reset(::CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        return file_.Valid() ? TransferEnd::Complete : TransferEnd::LocalWriteFailed;
    }

    bool Write(const char* data, DWORD size) override
    {
        if (!WriteAllBytes(file_.Get(), data, size)) {
            return false;
        }
        written_ += size;
        if (binding_) {
            hash_.Update(data, size);
        }
        return true;
    }

    // Why a completely downloaded package is not the bound one; null when it is.
    const wchar_t* Mismatch()
    {
        file_.Reset();
        if (!binding_) {
            return nullptr;
        }
        if (written_ != binding_->size) {
            return L"its size differs from the manifest's";
        }
        unsigned char digest[32] = {};
        if (!hash_.Finish(digest)) {
            return L"could not hash it";
        }
        return std::equal(digest, digest + 32, binding_->sha256.begin()) ? nullptr
                                                                         : L"its SHA-256 differs from the manifest's";
    }

private:
    std::wstring path_;
    std::optional<PackageBinding> binding_;
    HandleOwner file_;
    std::uint64_t written_ = 0;
    Sha256 hash_;
};

// The folder is left as the run found it: empty, then gone.
bool Discard(const std::wstring& folder, const std::wstring& path)
{
    ::DeleteFileW(path.c_str());
    ::RemoveDirectoryW(folder.c_str());
    return false;
}

}  // namespace

std::wstring CreatePackageFolder()
{
    wchar_t temp[MAX_PATH] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH) {
        return std::wstring();
    }
    for (int draw = 0; draw < kFolderDraws; ++draw) {
        std::uint32_t number = 0;
        if (!RandomBelow(kFolderNumbers, number)) {
            return std::wstring();
        }
        const std::wstring folder = temp + std::to_wstring(number);
        if (::CreateDirectoryW(folder.c_str(), nullptr)) {
            return folder;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS) {
            return std::wstring();
        }
        // Someone else's folder, or an earlier run's: what it holds is not ours to run.
    }
    return std::wstring();
}

bool DownloadPackage(const std::wstring& url, const std::optional<PackageBinding>& binding, std::wstring& path)
{
    std::wstring fileName;
    if (!HasHttpScheme(url) || !FileNameFromUrl(url, fileName) || !IsPlainFileName(fileName)) {
        return false;
    }
    const std::wstring folder = CreatePackageFolder();
    if (folder.empty()) {
        g_updateLog.Stream() << L" NoPackageFolder:" << static_cast<unsigned long>(::GetLastError());
        return false;
    }
    path = JoinPackagePath(folder, fileName, MAX_PATH);
    if (path.empty()) {
        return Discard(folder, path);
    }
    g_updateLog.Stream() << L"szDownUrl:" << url << path;
    TransferLimits limits = DefaultTransferLimits();
    if (binding) {
        limits.maxBytes = binding->size;
    }
    const auto sink = std::make_shared<PackageSink>(path, binding);
    if (!HttpGet(url, limits, sink).Complete()) {
        return Discard(folder, path);
    }
    if (const wchar_t* why = sink->Mismatch()) {
        g_updateLog.Stream() << L" PackageRejected:" << url << L" " << why;
        return Discard(folder, path);
    }
    return true;
}
