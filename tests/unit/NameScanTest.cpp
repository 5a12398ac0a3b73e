#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "archive/NameScan.h"
#include "support/TestFiles.h"

// A name is read up to its first zero or the field's end, in words of four units and a tail: the
// length, the backslash and a hash equal to the one of the name given with its length.
TEST(NameScan, LengthBackslashAndHashAgreeWithTheNameAlone) {
    struct Case {
        std::u16string field;  // what the module wrote, zeros included
        size_t capacity;
        size_t length;
        bool backslash;
    };
    const std::u16string five{u'a', u'b', u'c', u'd', u'e'};
    const Case cases[] = {
        {u"", 8, 0, false},
        {u"a", 8, 1, false},
        {u"abc", 8, 3, false},
        {u"abcd", 8, 4, false},
        {u"abcdefgh", 12, 8, false},
        {u"abcdefghi", 12, 9, false},
        {u"ab\\d", 8, 4, true},                  // in a whole word
        {u"abcd\\", 8, 5, true},                 // in the tail
        {u"abcdefg\\", 12, 8, true},             // the last unit of a word
        {std::u16string(u"ab\0\\e", 5), 8, 2, false},  // after the end: not part of the name
        {five, 5, 5, false},                     // no zero: the capacity ends it
        {u"abcdefgh", 6, 6, false},              // the capacity cuts it inside a word
        {u"a\\cdefgh", 4, 4, true},
        {u"\u5c00\u005c", 8, 2, true},           // a unit whose high byte is 0x5C is no backslash
        {u"\u5c00x", 8, 2, false},
    };
    for (const Case& c : cases) {
        std::u16string field = c.field + u'\0';
        field.resize(field.size() + 8, u'x');  // what lies past the end must not matter
        const NameScan scan = ScanName(field.data(), c.capacity);
        const std::string what = testing_support::Utf8(c.field.substr(0, c.length));
        EXPECT_EQ(scan.length, c.length) << what;
        EXPECT_EQ(scan.backslash, c.backslash) << what;
        EXPECT_EQ(scan.hash, NameHash(field.data(), c.length)) << what;
    }
}

// The hash tells apart names that differ in one unit, in their length or in their order of words.
TEST(NameScan, HashesTellNamesApart) {
    const std::u16string names[] = {u"folder/file0001.dat", u"folder/file0002.dat", u"folder/file0001.da",
                                    u"folder/file0001.dat\u0100", u"file0001.datfolder/", u"", u"\u0100"};
    for (const auto& a : names)
        for (const auto& b : names)
            if (&a != &b) {
                EXPECT_NE(NameHash(a.data(), a.size()), NameHash(b.data(), b.size())) << testing_support::Utf8(a);
            }
}
