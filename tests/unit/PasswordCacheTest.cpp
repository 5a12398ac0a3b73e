#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "archive/PasswordCache.h"

TEST(PasswordCache, KeysAreExactAndTheFirstPasswordStays) {
    PasswordCache cache;
    EXPECT_EQ(cache.Find(u"C:\\a.zip"), nullptr);
    cache.Remember(u"C:\\a.zip", "first");
    cache.Remember(u"C:\\a.zip", "second");
    ASSERT_NE(cache.Find(u"C:\\a.zip"), nullptr);
    EXPECT_STREQ(cache.Find(u"C:\\a.zip"), "first");
    EXPECT_EQ(cache.Find(u"C:\\A.zip"), nullptr);
    cache.Remember(u"C:\\b.zip", "");
    ASSERT_NE(cache.Find(u"C:\\b.zip"), nullptr);
    EXPECT_STREQ(cache.Find(u"C:\\b.zip"), "");
}

// Another open may still be offering a replaced text to its sub-module, so every text the cache
// handed out must stay readable. The allocations after each replacement take the same sizes with
// other bytes, so that a freed text would be overwritten at once, with or without a sanitizer.
TEST(PasswordCache, ReplacedTextsStayReadable) {
    PasswordCache cache;
    cache.Remember(u"p", "first");
    std::vector<std::pair<const char*, std::string>> handedOut = {{cache.Find(u"p"), "first"}};
    std::vector<std::unique_ptr<std::string>> reuse;
    for (int round = 0; round < 40; ++round) {
        const std::string text =
            round % 2 ? std::string(40 + round, char('A' + round % 26)) : "pw" + std::to_string(round);
        cache.Replace(u"p", text);
        ASSERT_STREQ(cache.Find(u"p"), text.c_str());
        handedOut.emplace_back(cache.Find(u"p"), text);
        const size_t replacedSize = handedOut[handedOut.size() - 2].second.size();
        for (int i = 0; i < 16; ++i) reuse.push_back(std::make_unique<std::string>(replacedSize, '#'));
    }
    for (const auto& text : handedOut) EXPECT_STREQ(text.first, text.second.c_str());
    cache.Replace(u"q", "new path");  // a replacement without an earlier entry just stores
    EXPECT_STREQ(cache.Find(u"q"), "new path");
}

TEST(PasswordCache, ConcurrentFindAndRemember) {
    PasswordCache cache;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&cache, t] {
            for (int i = 0; i < 500; ++i) {
                const std::u16string path = u"archive" + std::u16string(1, char16_t(u'a' + i % 20));
                cache.Remember(path, "pw" + std::to_string(t));
                const char* found = cache.Find(path);
                ASSERT_NE(found, nullptr);
                EXPECT_EQ(std::string(found).substr(0, 2), "pw");
            }
        });
    }
    for (auto& thread : threads) thread.join();
}
