#include "foundation/StringClass.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Header {
    int32_t capacity;
    int32_t length;
};

Header HeaderOf(const StringClass& text) {
    Header header;
    std::memcpy(&header, text.Peek() - sizeof(header), sizeof(header));
    return header;
}

// Pool tests run on a thread of their own so they start with all eight slots
// free, whatever other tests left behind on the main thread.
template <class Body>
void OnFreshThread(Body body) {
    std::thread worker(body);
    worker.join();
}

intptr_t Address(const StringClass& text) { return reinterpret_cast<intptr_t>(text.Peek()); }

TEST(StringClassTest, EmptyStringsShareOneBufferButEmptyTextGetsItsOwn) {
    StringClass defaulted;
    StringClass fromNull(nullptr);
    EXPECT_EQ(defaulted.Peek(), fromNull.Peek());
    EXPECT_EQ(defaulted.GetCapacity(), 0);
    EXPECT_EQ(fromNull.GetLength(), 0);
    EXPECT_TRUE(fromNull.IsEmpty());
    defaulted.Release();
    EXPECT_EQ(defaulted.Peek(), fromNull.Peek());

    StringClass fromEmptyText("");
    EXPECT_NE(fromEmptyText.Peek(), defaulted.Peek());
    EXPECT_EQ(fromEmptyText.GetCapacity(), 1);
    EXPECT_TRUE(fromEmptyText.IsEmpty());
    fromEmptyText.Release();
    EXPECT_EQ(fromEmptyText.Peek(), defaulted.Peek());
}

TEST(StringClassTest, AssignKeepsABufferThatIsLargeEnoughAndOtherwiseGetsAnExactOne) {
    StringClass text("abcdef");
    EXPECT_EQ(HeaderOf(text).capacity, 7);
    EXPECT_EQ(HeaderOf(text).length, 6);
    const char* before = text.Peek();
    text = "xy";
    EXPECT_EQ(text.Peek(), before);
    EXPECT_EQ(text.GetCapacity(), 7);
    EXPECT_EQ(text.GetLength(), 2);

    text = "a much longer text";
    EXPECT_EQ(text.GetCapacity(), 19);
    EXPECT_EQ(text.GetLength(), 18);

    StringClass copy(text);
    EXPECT_EQ(copy.GetCapacity(), 19);
    EXPECT_EQ(copy, text);
}

TEST(StringClassTest, AppendReallocatesToTheExactSizeAndIgnoresEmptyAdditions) {
    StringClass text("a");
    ASSERT_EQ(text.GetCapacity(), 2);
    text += "b";
    EXPECT_STREQ(text, "ab");
    EXPECT_EQ(text.GetCapacity(), 3);
    EXPECT_EQ(HeaderOf(text).length, 2);

    const char* before = text.Peek();
    text += "";
    text += StringClass();
    text += nullptr;
    EXPECT_EQ(text.Peek(), before);
    EXPECT_EQ(text.GetCapacity(), 3);

    text += 'c';
    text += StringClass("de");
    EXPECT_STREQ(text, "abcde");
    EXPECT_EQ(text.GetCapacity(), 6);
}

TEST(StringClassTest, AssignAndAppendMayUseTheStringsOwnText) {
    StringClass text("abc");
    text += text;
    EXPECT_STREQ(text, "abcabc");
    text += text.Peek() + 4;
    EXPECT_STREQ(text, "abcabcbc");
    text = text.Peek() + 3;
    EXPECT_STREQ(text, "abcbc");
    EXPECT_EQ(text.GetLength(), 5);
    // Through a reference, so that the compiler does not flag the deliberate
    // self-assignment.
    const StringClass& sameText = text;
    text = sameText;
    EXPECT_STREQ(text, "abcbc");
}

TEST(StringClassTest, GetBufferGivesWritableRoomEvenForNonPositiveCapacities) {
    StringClass text("old contents");
    char* buffer = text.GetBuffer(32);
    ASSERT_NE(buffer, nullptr);
    EXPECT_GE(text.GetCapacity(), 32);
    EXPECT_TRUE(text.IsEmpty());
    std::strcpy(buffer, "filled directly");
    EXPECT_EQ(text.GetLength(), 15);
    EXPECT_EQ(HeaderOf(text).length, 15);

    for (int capacity : {0, -1, INT_MIN}) {
        char* terminator = text.GetBuffer(capacity);
        ASSERT_NE(terminator, nullptr);
        EXPECT_GE(text.GetCapacity(), 1);
        EXPECT_TRUE(text.IsEmpty());
    }
}

TEST(StringClassTest, EqualityIsCaseSensitiveAndTreatsNullAsEmpty) {
    EXPECT_TRUE(StringClass("Maps") == StringClass("Maps"));
    EXPECT_FALSE(StringClass("Maps") == StringClass("maps"));
    EXPECT_TRUE(StringClass("Maps") == "Maps");
    EXPECT_FALSE(StringClass("Maps") == "Map");
    EXPECT_TRUE(StringClass() == static_cast<const char*>(nullptr));
    EXPECT_TRUE(StringClass("") == StringClass());
}

TEST(StringClassTest, TemporaryCopiesTakeTheLowestFreeSlotAndANinthGoesToTheHeap) {
    OnFreshThread([] {
        const StringClass source("temporary");
        std::vector<std::unique_ptr<StringClass>> held;
        for (int slot = 0; slot < 8; ++slot) {
            held.push_back(std::make_unique<StringClass>(source, true));
            ASSERT_TRUE(held.back()->IsPooled());
            EXPECT_EQ(held.back()->GetCapacity(), 248);
            EXPECT_EQ(Address(*held.back()) - Address(*held[0]), slot * 256);
        }
        StringClass ninth(source, true);
        EXPECT_FALSE(ninth.IsPooled());
        EXPECT_EQ(ninth.GetCapacity(), 10);
        EXPECT_EQ(ninth, source);

        const intptr_t slotTwo = Address(*held[2]);
        const intptr_t slotFive = Address(*held[5]);
        held[5].reset();
        held[2].reset();
        StringClass reused(source, true);
        EXPECT_EQ(Address(reused), slotTwo);
        StringClass next(source, true);
        EXPECT_EQ(Address(next), slotFive);
    });
}

TEST(StringClassTest, OnlyTextsShorterThanTheSlotAreCopiedIntoThePool) {
    OnFreshThread([] {
        const StringClass fits(std::string(246, 'x').c_str());
        const StringClass tooLong(std::string(247, 'x').c_str());
        EXPECT_TRUE(StringClass(fits, true).IsPooled());
        StringClass heap(tooLong, true);
        EXPECT_FALSE(heap.IsPooled());
        EXPECT_EQ(heap.GetCapacity(), 248);
        EXPECT_FALSE(StringClass(fits).IsPooled());
    });
}

TEST(StringClassTest, PooledStringMovesToTheHeapWhenItOutgrowsItsSlot) {
    OnFreshThread([] {
        StringClass temporary(StringClass("start"), true);
        const intptr_t slot = Address(temporary);
        temporary += std::string(300, 'y').c_str();
        EXPECT_FALSE(temporary.IsPooled());
        EXPECT_EQ(temporary.GetCapacity(), 306);
        EXPECT_EQ(temporary.GetLength(), 305);
        StringClass next(StringClass("again"), true);
        EXPECT_EQ(Address(next), slot);
    });
}

TEST(StringClassTest, EachThreadHasItsOwnPoolAndReleasesIntoIt) {
    OnFreshThread([] {
        std::vector<std::unique_ptr<StringClass>> mine;
        for (int slot = 0; slot < 8; ++slot) {
            mine.push_back(std::make_unique<StringClass>(StringClass("main"), true));
        }
        const intptr_t first = Address(*mine[0]);
        bool otherSawOurSlotAsPooled = true;
        bool otherGotAllEight = true;
        std::thread other([&] {
            otherSawOurSlotAsPooled = mine[0]->IsPooled();
            std::vector<std::unique_ptr<StringClass>> theirs;
            for (int slot = 0; slot < 8; ++slot) {
                theirs.push_back(std::make_unique<StringClass>(StringClass("other"), true));
                otherGotAllEight = otherGotAllEight && theirs.back()->IsPooled();
            }
        });
        other.join();
        EXPECT_FALSE(otherSawOurSlotAsPooled);
        EXPECT_TRUE(otherGotAllEight);
        mine[0].reset();
        StringClass again(StringClass("main"), true);
        EXPECT_EQ(Address(again), first);
    });
}

TEST(StringClassTest, ConcatenationReturnsAHeapStringAndGivesItsWorkingCopiesBack) {
    OnFreshThread([] {
        const StringClass left("store/");
        StringClass joined = left + "packages.dat";
        EXPECT_STREQ(joined, "store/packages.dat");
        EXPECT_FALSE(joined.IsPooled());
        EXPECT_EQ(joined.GetCapacity(), 19);

        StringClass longJoined = left + std::string(400, 'z').c_str();
        EXPECT_EQ(longJoined.GetLength(), 406);

        StringClass probe(left, true);
        StringClass probe2(left, true);
        EXPECT_EQ(Address(probe2) - Address(probe), 256);
    });
}

TEST(StringClassTest, MovingTakesHeapBuffersButCopiesPooledOnes) {
    OnFreshThread([] {
        StringClass heap("heap text");
        const char* buffer = heap.Peek();
        StringClass taken(std::move(heap));
        EXPECT_EQ(taken.Peek(), buffer);

        StringClass pooled(StringClass("pooled text"), true);
        const intptr_t slot = Address(pooled);
        StringClass moved(std::move(pooled));
        EXPECT_FALSE(moved.IsPooled());
        EXPECT_STREQ(moved, "pooled text");
        StringClass next(StringClass("x"), true);
        EXPECT_EQ(Address(next), slot);

        StringClass target("old");
        target = std::move(taken);
        EXPECT_EQ(target.Peek(), buffer);
        target = StringClass();
        EXPECT_EQ(target.GetCapacity(), 0);
    });
}

TEST(StringClassTest, FormatKeepsShortAndLongOutputWholeAndMayReadItsOwnText) {
    StringClass text;
    EXPECT_EQ(text.Format("%08x-%s", 0xA3830348u, "abc"), 12);
    EXPECT_STREQ(text, "a3830348-abc");
    text.Format("%s/%s", text.Peek(), text.Peek());
    EXPECT_STREQ(text, "a3830348-abc/a3830348-abc");

    for (size_t length : {510u, 511u, 512u, 600u, 5000u}) {
        const std::string expected = std::string(length - 4, 'p') + ".kpi";
        EXPECT_EQ(text.Format("%s.kpi", std::string(length - 4, 'p').c_str()), static_cast<int>(length));
        EXPECT_EQ(text.GetLength(), static_cast<int>(length));
        EXPECT_EQ(std::string(text.Peek()), expected);
        const StringClass made = FormatString("%s.kpi", std::string(length - 4, 'p').c_str());
        EXPECT_EQ(std::string(made.Peek()), expected);
    }
}

TEST(StringClassTest, TrimWhitespaceRemovesControlBytesAndSpacesOnly) {
    const struct {
        const char* input;
        const char* expected;
    } cases[] = {
        {"  name \t\r\n", "name"},
        {"\x01inner space\x20", "inner space"},
        {"", ""},
        {" \t \n", ""},
        {"\x80 x \xA0", "\x80 x \xA0"},
        {"\xFF", "\xFF"},
        {"  \xE9t\xE9  ", "\xE9t\xE9"},
    };
    for (const auto& test : cases) {
        std::string buffer = test.input;
        EXPECT_EQ(TrimWhitespace(buffer.data()), buffer.data());
        EXPECT_STREQ(buffer.c_str(), test.expected) << "input: " << test.input;
    }
    EXPECT_EQ(TrimWhitespace(nullptr), nullptr);
}

TEST(FormatBufferTest, StaysInlineUpTo259CharactersAndHoldsLongerTextsWhole) {
    for (size_t length : {0u, 1u, 259u, 260u, 261u, 4000u}) {
        const std::string expected(length, 'q');
        const FormatBuffer formatted("%s", expected.c_str());
        EXPECT_EQ(formatted.IsInline(), length <= 259) << length;
        EXPECT_EQ(formatted.GetLength(), static_cast<int>(length));
        EXPECT_EQ(std::string(formatted.GetText()), expected);
    }
}

}  // namespace
