// The host's records as this build lays them out, against the offsets that the hosts publish:
// natural alignment for Windows hosts, Pascal packed records for Unix hosts (Double Commander).
#include <gtest/gtest.h>

#include <cstddef>

#include "plugin/ExtensionInterface.h"
#include "plugin/PackerInterface.h"

namespace {

struct Layout {
    const char* field;
    size_t actual;
    size_t expected;
};

#define AT(record, field, expected) \
    Layout { #record "." #field, offsetof(record, field), expected }
#define SIZE(record, expected) \
    Layout { "sizeof " #record, sizeof(record), expected }

}  // namespace

TEST(HostRecordLayout, OffsetsAndSizesAreTheHosts) {
    const bool wide = sizeof(void*) == 8;
    const std::vector<Layout> common = {
        AT(tHeaderData, FileName, 260),     AT(tHeaderData, Flags, 520),
        AT(tHeaderData, FileAttr, 552),     AT(tHeaderDataExW, FileName, 2048),
        AT(tHeaderDataExW, Flags, 4096),    AT(tHeaderDataExW, PackSize, 4100),
        AT(tHeaderDataExW, UnpSizeHigh, 4112), AT(tHeaderDataExW, FileTime, 4124),
        AT(tHeaderDataExW, FileAttr, 4136), AT(tOpenArchiveDataW, OpenMode, wide ? 8u : 4u),
        AT(tOpenArchiveDataW, OpenResult, wide ? 12u : 8u),
    };
#if defined(PK_UNIX_HOST)
    ASSERT_TRUE(wide) << "Unix hosts are checked for x86-64 only";
    const std::vector<Layout> host = {
        AT(tHeaderDataExW, CmtBuf, 4140),  AT(tHeaderDataExW, CmtBufSize, 4148),
        AT(tHeaderDataExW, CmtState, 4156), AT(tHeaderDataExW, Reserved, 4160),
        SIZE(tHeaderDataExW, 5184),        AT(tHeaderData, CmtBuf, 556),
        AT(tHeaderData, CmtState, 572),    SIZE(tHeaderData, 576),
        AT(tOpenArchiveDataW, CmtBuf, 16), SIZE(tOpenArchiveDataW, 36),
        SIZE(tOpenArchiveData, 36),        AT(tExtensionStartupInfo, PluginDir, 4),
        AT(tExtensionStartupInfo, PluginConfDir, 16388), AT(tExtensionStartupInfo, InputBox, 32772),
        AT(tExtensionStartupInfo, MessageBox, 32780),
    };
#else
    const std::vector<Layout> host = {
        AT(tHeaderDataExW, CmtBuf, wide ? 4144u : 4140u),   AT(tHeaderDataExW, Reserved, wide ? 4164u : 4156u),
        SIZE(tHeaderDataExW, wide ? 5192u : 5180u),         AT(tHeaderData, CmtBuf, wide ? 560u : 556u),
        SIZE(tHeaderData, wide ? 584u : 572u),              SIZE(tOpenArchiveDataW, wide ? 40u : 28u),
    };
#endif
    for (const auto* table : {&common, &host})
        for (const Layout& layout : *table) EXPECT_EQ(layout.actual, layout.expected) << layout.field;
}
