// The password prompt in an input box that a host lends: what the box is given and what the
// caller gets back, at the smallest buffers too. Runs on every build, as the code does.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "plugin/HostDialogs.h"

namespace {

struct LentBox {
    int calls = 0;
    int32_t maxLength = -1;
    std::string typed;  // what the user types; the box copies it as a host does
    bool terminates = true;
    int32_t answer = 1;
} box;

int32_t PK_CALL InputBox(char*, char*, int32_t, char* value, int32_t maxLength) {
    ++box.calls;
    box.maxLength = maxLength;
    const size_t length = std::min(box.typed.size(), size_t(maxLength));
    std::memcpy(value, box.typed.data(), length);
    if (box.terminates) value[length] = '\0';
    return box.answer;
}

int32_t PK_CALL OtherInputBox(char*, char*, int32_t, char*, int32_t) {
    ADD_FAILURE() << "a record too short to hold the box was adopted";
    return 0;
}

void Lend(tInputBoxProc inputBox, uint32_t structSize = sizeof(tExtensionStartupInfo)) {
    static tExtensionStartupInfo info;  // large: not on the stack
    info = tExtensionStartupInfo{};
    info.StructSize = structSize;
    info.InputBox = inputBox;
    AdoptHostDialogs(&info);
}

}  // namespace

TEST(HostDialogs, PasswordFromALentInputBoxAlwaysFitsWithItsTerminator) {
    Lend(InputBox);
    Lend(OtherInputBox, sizeof(tExtensionStartupInfo) - 1);  // ignored: the first box stays
    const struct {
        int32_t capacity;
        std::string typed;
        bool terminates;
        int32_t answer;
        bool ok;
        int32_t maxLength;  // what the box is told it may copy; -1: not asked at all
        std::string password;
    } cases[] = {
        {0, "pw", true, 1, false, -1, ""},  // no room even for the terminator
        {1, "pw", true, 1, true, 0, ""},
        {2, "pw", true, 1, true, 1, "p"},
        {8, "pw", true, 1, true, 7, "pw"},
        {8, "", true, 1, true, 7, ""},
        {4, "secret", false, 1, true, 3, "sec"},  // a box that leaves no terminator
        {8, "", false, 1, true, 7, ""},           // a box that writes nothing at all
        {8, "pw", true, -1, true, 7, "pw"},       // any non-zero answer is OK
        {8, "pw", true, 0, false, 7, ""},         // cancelled
    };
    for (const auto& c : cases) {
        box = LentBox{};
        box.typed = c.typed;
        box.terminates = c.terminates;
        box.answer = c.answer;
        char buffer[16];
        std::memset(buffer, 'Z', sizeof buffer);  // what a previous prompt left
        EXPECT_EQ(AskPasswordOfUser(nullptr, buffer, c.capacity), c.ok) << c.capacity << ' ' << c.typed;
        EXPECT_EQ(box.maxLength, c.maxLength) << c.capacity << ' ' << c.typed;
        if (c.ok) {
            EXPECT_EQ(std::string(buffer), c.password) << c.capacity << ' ' << c.typed;
        }
        // Nothing is written past the caller's buffer.
        for (size_t i = size_t(c.capacity); i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], 'Z') << c.capacity;
    }
    Lend(nullptr);  // the platform's own dialog again, for the tests that follow
}
