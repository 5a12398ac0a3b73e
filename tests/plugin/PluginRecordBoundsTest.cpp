// The header records as the host allocates them: exactly the host's size, with guard bytes after
// them (and, for the packed records of Unix hosts, at an odd address). Nothing is written past
// the record, and the record is written.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/Containers.h"
#include "support/PluginUnderTest.h"

using namespace testing_support;

namespace {

constexpr unsigned char kGuard = 0xA5;
constexpr size_t kGuardBytes = 64;

// The hosts' own sizes, not this build's sizeof: a wrong layout must show as a write past them.
#if defined(PK_UNIX_HOST)
constexpr size_t kHeaderExWSize = 5184, kHeaderSize = 576;
constexpr size_t kPlacements[] = {0, 1};
#elif UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
constexpr size_t kHeaderExWSize = 5192, kHeaderSize = 584;
constexpr size_t kPlacements[] = {0};
#else
constexpr size_t kHeaderExWSize = 5180, kHeaderSize = 572;
constexpr size_t kPlacements[] = {0};
#endif

bool Untouched(const std::vector<unsigned char>& buffer, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i)
        if (buffer[i] != kGuard) return false;
    return true;
}

}  // namespace

TEST(PluginRecordBounds, HeadersAreNeverWrittenPastTheHostsRecord) {
    ModuleFolder folder;
    folder.AddModule("m");
    folder.WriteIni(PluginUnderTest::IniName(), "[Modules]\nm=m" TESTMODULE_SUFFIX "\n");
    PluginUnderTest plugin(folder);
    const std::u16string path = WriteContainer(
        folder.folder.Path() / "c.bin", "open\tm\t1\nentry\tname=first.txt\tsize=5\tmtime=133603947310000000\n"
                                        "entry\tname-fill=2000:n\nentry\tname=third\tattr=0x10\n");
    const struct {
        const char* what;
        size_t size;
        size_t fileNameOffset;
        int (*read)(PluginUnderTest&, PK_HANDLE, void*);
    } records[] = {
        {"ReadHeaderExW", kHeaderExWSize, 2048,
         [](PluginUnderTest& p, PK_HANDLE h, void* r) { return p.ReadHeaderExW(h, static_cast<tHeaderDataExW*>(r)); }},
        {"ReadHeader", kHeaderSize, 260,
         [](PluginUnderTest& p, PK_HANDLE h, void* r) { return p.ReadHeader(h, static_cast<tHeaderData*>(r)); }},
    };
    for (const auto& record : records) {
        for (size_t placement : kPlacements) {
            PK_HANDLE handle = plugin.Open(path);
            ASSERT_NE(handle, nullptr);
            for (int call = 0; call < 4; ++call) {  // three entries, then the end
                std::vector<unsigned char> buffer(placement + record.size + kGuardBytes, kGuard);
                const int result = record.read(plugin, handle, buffer.data() + placement);
                const std::string where = std::string(record.what) + " call " + std::to_string(call) +
                                          " at offset " + std::to_string(placement);
                EXPECT_EQ(result, call < 3 ? 0 : E_END_ARCHIVE) << where;
                EXPECT_TRUE(Untouched(buffer, 0, placement)) << where;
                EXPECT_TRUE(Untouched(buffer, placement + record.size, buffer.size())) << where;
                // A filled record has its name; the end leaves the record as it was.
                EXPECT_EQ(buffer[placement + record.fileNameOffset] != kGuard, call < 3) << where;
            }
            plugin.CloseArchive(handle);
        }
    }
}
