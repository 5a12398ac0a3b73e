// What the host reads in FileTime, FileAttr and FileName for an entry, in each family of hosts.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "plugin/HostDialect.h"
#include "plugin/PackerInterface.h"

namespace {

// FileName as the host reads it when the first length units of name are written one byte past
// an aligned address, as a packed record places it; nothing may land past those units.
template <typename WriteEntryName>
std::u16string HostEntryName(WriteEntryName write, const std::u16string& name, size_t length) {
    std::vector<unsigned char> field(1 + (length + 1) * sizeof(char16_t), 0xEE);
    write(name, length, true, field.data() + 1);
    EXPECT_TRUE(field[field.size() - 2] == 0xEE && field.back() == 0xEE) << "written past the length";
    std::u16string shown(length, u'\0');
    if (length) std::memcpy(&shown[0], field.data() + 1, length * sizeof(char16_t));
    return shown;
}
template <typename WriteEntryName>
std::u16string HostEntryName(WriteEntryName write, const std::u16string& name) {
    return HostEntryName(write, name, name.size());
}

}  // namespace

TEST(HostDialect, UnixHostsReadUnixTimeModesAndSlashes) {
    constexpr uint64_t kEpoch = 116444736000000000ull;  // 1970-01-01 as a FILETIME
    constexpr uint64_t kSecond = 10000000ull;
    const struct {
        uint64_t fileTime;
        int32_t unixTime;
    } times[] = {
        {0, 0},                                        // no time stays no time
        {kEpoch, 0},
        {kEpoch + 1, 0},                               // fractions are dropped
        {kEpoch + 1796733296 * kSecond + 9999999, 1796733296},  // 2026-12-08 12:34:56.9999999
        {kEpoch - 5000000, -1},                        // half a second before 1970 is second -1
        {kEpoch - 86400 * kSecond, -86400},
        {kEpoch + 2147483647ull * kSecond, 2147483647},
        {kEpoch + 2147483648ull * kSecond, 2147483647},  // past 2038: held at the field's end
        {1, INT32_MIN},                                // 1601: held at the other end
        {0x8000000000000000ull, INT32_MAX},            // beyond any signed FILETIME
        {UINT64_MAX, INT32_MAX},
    };
    for (const auto& t : times) EXPECT_EQ(unix_hosts::FileTime(t.fileTime), t.unixTime) << t.fileTime;

    const struct {
        uint32_t attributes;
        int32_t mode;
    } modes[] = {
        {0x00, 0100644},  {0x20, 0100644}, {0x80, 0100644}, {0x01, 0100444}, {0x21, 0100444},
        {0x10, 040755},   {0x11, 040555},  {0x30, 040755},  {0x400, 0120777}, {0x401, 0120777},
        {0x410, 040755},  {0x02 | 0x04, 0100644},            {0xFFFFFFFF, 040555},
    };
    for (const auto& m : modes) EXPECT_EQ(unix_hosts::FileAttributes(m.attributes), m.mode) << std::hex << m.attributes;

    EXPECT_EQ(HostEntryName(unix_hosts::WriteEntryName, u"Docs\\old/Guide\\"), u"Docs/old/Guide/");
    EXPECT_EQ(HostEntryName(unix_hosts::WriteEntryName, u""), u"");
    EXPECT_EQ(HostEntryName(unix_hosts::WriteEntryName, u"a\\b\\c", 3), u"a/b");  // a cut name: only what fits is written
    EXPECT_TRUE(unix_hosts::kLendsDialogsAfterLoad);  // through ExtensionInitialize
}

TEST(HostDialect, WindowsHostsReadDosStampsAndTheBitsAsListed) {
    // 2024-05-17 13:45:31 in Asia/Tokyo, the zone the tests run in.
    EXPECT_EQ(uint32_t(windows_hosts::FileTime(133603947310000000ull)), 0x58B16DAFu);
    EXPECT_EQ(windows_hosts::FileTime(0), 0);
    for (uint32_t attributes : {0x00u, 0x01u, 0x10u, 0x21u, 0x400u, 0xFFFFFFFFu})
        EXPECT_EQ(uint32_t(windows_hosts::FileAttributes(attributes)), attributes);
    EXPECT_EQ(HostEntryName(windows_hosts::WriteEntryName, u"Docs\\old/Guide"), u"Docs\\old/Guide");
    EXPECT_EQ(HostEntryName(windows_hosts::WriteEntryName, u"Docs\\old", 4), u"Docs");
    EXPECT_FALSE(windows_hosts::kLendsDialogsAfterLoad);  // the plug-in shows its own
}
