#include "base/held_file.h"
#include "base/plain_file.h"

#include "test_files.h"

#include <gtest/gtest.h>

namespace {

// Another program, in the hand-over's window: only the lock's handle, which shares everything, is open.
void RenameAwayAndBack(const std::wstring& path)
{
    EXPECT_TRUE(::MoveFileExW(path.c_str(), (path + L".moved").c_str(), 0));
    EXPECT_TRUE(::MoveFileExW((path + L".moved").c_str(), path.c_str(), 0));
}
void RenameAwayAndPlant(const std::wstring& path)
{
    EXPECT_TRUE(::MoveFileExW(path.c_str(), (path + L".moved").c_str(), 0));
    EXPECT_TRUE(WriteWholeFile(path, "PLANTED"));
}

TEST(HeldFile, TheHandOverHoldsTheFileWrittenOrNothing)
{
    const struct {
        void (*probe)(const std::wstring&);
        DWORD error;
    } cases[] = {{nullptr, 0}, {&RenameAwayAndBack, 0}, {&RenameAwayAndPlant, ERROR_FILE_INVALID}};
    for (const auto& c : cases) {
        ScratchFolder folder;
        HeldFile file;
        ASSERT_TRUE(file.Open(folder.Path(), L"velmar.diff", CREATE_NEW));
        ASSERT_TRUE(file.Append("CHECKED", 7));
        HeldFile::handOverProbe = c.probe;
        EXPECT_EQ(c.error, file.KeepForReading().Error());
        HeldFile::handOverProbe = nullptr;
        EXPECT_EQ(c.error == 0, file.Valid());
        HandleOwner writer(::CreateFileW(file.Path().c_str(), GENERIC_WRITE, 7, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_EQ(c.error != 0, writer.Valid()) << "held against writers exactly when held";
    }
}

TEST(PlainFile, OnlyAPlainFileOfOursIsOpenedOrDeleted)
{
    ScratchFolder folder;
    folder.Write(L"plain", "p");
    folder.Write(L"linked", "l");
    ASSERT_TRUE(::CreateHardLinkW(folder.Missing(L"hard").c_str(), folder.Missing(L"linked").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(folder.Missing(L"sub").c_str(), nullptr));
    const struct {
        const wchar_t* name;
        DWORD opened;   // OpenPlain's error, OPEN_EXISTING
        DWORD created;  // and CREATE_NEW's
        bool deleted;   // DeletePlain went through and it is gone
    } cases[] = {
        {L"plain", 0, ERROR_FILE_EXISTS, true},          {L"hard", kNotPlainError, ERROR_FILE_EXISTS, false},
        {L"sub", ERROR_ACCESS_DENIED, ERROR_FILE_EXISTS, false}, {L"..", kNotPlainError, kNotPlainError, false},
        {L"new", ERROR_FILE_NOT_FOUND, 0, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.opened, OpenPlain(folder.Path(), c.name, GENERIC_READ, 7, OPEN_EXISTING).status.Error()) << c.name;
        EXPECT_EQ(c.created, OpenPlain(folder.Path(), c.name, GENERIC_WRITE, 7, CREATE_NEW).status.Error()) << c.name;
        const bool deleted = DeletePlain(folder.Path(), c.name) && ReadFileBytes(folder.Missing(c.name)) == "<missing>";
        EXPECT_EQ(c.deleted, deleted) << c.name;
    }
    EXPECT_EQ("l", ReadFileBytes(folder.Missing(L"linked")));
}

}  // namespace
