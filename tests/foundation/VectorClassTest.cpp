#include "foundation/SimpleVecClass.h"
#include "foundation/StringClass.h"
#include "foundation/VectorClass.h"

#include <gtest/gtest.h>

#include <climits>
#include <new>
#include <vector>

namespace {

// Counts live instances so tests can see elements built and destroyed in
// caller memory.
struct Counted {
    static int Alive;
    int value = 0;
    Counted() { ++Alive; }
    Counted(const Counted& other) : value(other.value) { ++Alive; }
    Counted& operator=(const Counted&) = default;
    ~Counted() { --Alive; }
    bool operator==(const Counted& other) const { return value == other.value; }
};
int Counted::Alive = 0;

std::vector<int> Values(const VectorClass<int>& vector) {
    std::vector<int> values;
    for (int index = 0; index < vector.Length(); ++index) {
        values.push_back(vector[index]);
    }
    return values;
}

TEST(VectorClassTest, ResizeKeepsTheFirstElementsAndZeroClears) {
    VectorClass<int> vector(3);
    vector[0] = 1;
    vector[1] = 2;
    vector[2] = 3;
    ASSERT_TRUE(vector.Resize(5));
    EXPECT_EQ(vector.Length(), 5);
    EXPECT_EQ(vector[2], 3);
    ASSERT_TRUE(vector.Resize(2));
    EXPECT_EQ(Values(vector), (std::vector<int>{1, 2}));
    EXPECT_EQ(vector.IndexOf(2), 1);
    EXPECT_EQ(vector.IndexOf(3), -1);
    EXPECT_EQ(vector.IndexFromPointer(&vector[1]), 1);
    EXPECT_TRUE(vector.Resize(0));
    EXPECT_EQ(vector.Length(), 0);
}

TEST(VectorClassTest, NegativeResizeFailsAndChangesNothing) {
    VectorClass<int> vector(2);
    vector[0] = 7;
    EXPECT_FALSE(vector.Resize(-1));
    EXPECT_FALSE(vector.Resize(INT_MIN));
    EXPECT_EQ(vector.Length(), 2);
    EXPECT_EQ(vector[0], 7);
    EXPECT_TRUE(vector.IsValid());
}

TEST(VectorClassTest, CallerMemoryHoldsElementsBuiltInPlaceAndIsNotFreed) {
    Counted::Alive = 0;
    alignas(Counted) unsigned char memory[4 * sizeof(Counted)];
    {
        VectorClass<Counted> vector(2);
        vector[1].value = 9;
        ASSERT_TRUE(vector.Resize(4, memory));
        EXPECT_EQ(&vector[0], reinterpret_cast<Counted*>(memory));
        EXPECT_EQ(vector[1].value, 9);
        EXPECT_EQ(Counted::Alive, 4);
        vector.Clear();
        EXPECT_EQ(Counted::Alive, 0);
        ASSERT_TRUE(vector.Resize(4, memory));
    }
    EXPECT_EQ(Counted::Alive, 0);
}

TEST(VectorClassTest, EqualityComparesEverySlotCaseSensitively) {
    VectorClass<StringClass> left(2);
    VectorClass<StringClass> right(2);
    left[0] = "a";
    right[0] = "a";
    left[1] = "b";
    right[1] = "B";
    EXPECT_FALSE(left == right);
    right[1] = "b";
    EXPECT_TRUE(left == right);
    VectorClass<StringClass> copy(left);
    EXPECT_TRUE(copy == left);
    right.Resize(3);
    EXPECT_FALSE(left == right);
}

// An element whose construction asks the vector being resized about itself,
// which is the only moment a vector is not ready.
struct Probe {
    static const VectorClass<Probe>* Watched;
    static std::vector<int> Seen;
    int value = 5;
    Probe() {
        if (Watched != nullptr) {
            const VectorClass<Probe>* watched = Watched;
            Watched = nullptr;
            Probe wanted;
            wanted.value = -1;
            Seen.push_back(watched->IndexOf(wanted));
            Seen.push_back(watched->IndexFromPointer(this));
            Seen.push_back(watched->IsValid() ? 1 : 0);
            Watched = watched;
        }
    }
    bool operator==(const Probe& other) const { return value == other.value; }
};
const VectorClass<Probe>* Probe::Watched = nullptr;
std::vector<int> Probe::Seen;

TEST(VectorClassTest, QueriesWhileAResizeBuildsElementsAnswerZero) {
    for (bool dynamic : {false, true}) {
        VectorClass<Probe> plain(1);
        DynamicVectorClass<Probe> growing(1);
        VectorClass<Probe>& vector = dynamic ? growing : plain;
        Probe::Seen.clear();
        Probe::Watched = &vector;
        ASSERT_TRUE(vector.Resize(1));
        Probe::Watched = nullptr;
        EXPECT_EQ(Probe::Seen, (std::vector<int>{0, 0, 0})) << dynamic;
        Probe wanted;
        wanted.value = -1;
        EXPECT_EQ(vector.IndexOf(wanted), -1);
    }
}

TEST(DynamicVectorClassTest, AddGrowsByTheGrowthStep) {
    DynamicVectorClass<int> vector;
    for (int value = 0; value < 11; ++value) {
        ASSERT_TRUE(vector.Add(value));
    }
    EXPECT_EQ(vector.Count(), 11);
    EXPECT_EQ(vector.Length(), 20);
    vector.SetGrowthStep(3);
    for (int value = 11; value < 21; ++value) {
        ASSERT_TRUE(vector.Add(value));
    }
    EXPECT_EQ(vector.Length(), 23);
    EXPECT_EQ(vector[20], 20);
}

TEST(DynamicVectorClassTest, AddFailsWhenNoRoomMayBeMade) {
    int memory[2];
    DynamicVectorClass<int> wrapped(2, memory);
    EXPECT_TRUE(wrapped.Add(1));
    EXPECT_TRUE(wrapped.Add(2));
    EXPECT_FALSE(wrapped.Add(3));
    EXPECT_EQ(wrapped.Count(), 2);
    EXPECT_EQ(wrapped.Length(), 2);

    DynamicVectorClass<int> fixed;
    fixed.SetGrowthStep(0);
    EXPECT_FALSE(fixed.Add(1));

    DynamicVectorClass<int> huge(10);
    huge.SetGrowthStep(INT_MAX);
    huge.SetCount(10);
    EXPECT_FALSE(huge.Add(1));
    EXPECT_EQ(huge.Length(), 10);
}

TEST(DynamicVectorClassTest, AddingAnOwnElementWhileGrowingCopiesItFirst) {
    DynamicVectorClass<StringClass> vector;
    vector.SetGrowthStep(1);
    ASSERT_TRUE(vector.Add(StringClass("first")));
    ASSERT_TRUE(vector.Add(vector[0]));
    EXPECT_STREQ(vector[1], "first");
    EXPECT_STREQ(vector[0], "first");
}

TEST(DynamicVectorClassTest, IndexOfSearchesOnlyTheElementsInUse) {
    DynamicVectorClass<int> vector(5);
    vector.Add(4);
    vector.Add(8);
    vector[3] = 99;
    EXPECT_EQ(vector.IndexOf(8), 1);
    EXPECT_EQ(vector.IndexOf(99), -1);
}

TEST(DynamicVectorClassTest, ResizeAndClearCutTheCount) {
    DynamicVectorClass<int> vector;
    for (int value = 0; value < 6; ++value) {
        vector.Add(value);
    }
    vector.Resize(4);
    EXPECT_EQ(vector.Count(), 4);
    DynamicVectorClass<int> copy(vector);
    EXPECT_EQ(copy.Count(), 4);
    EXPECT_EQ(copy[3], 3);
    vector.Clear();
    EXPECT_EQ(vector.Count(), 0);
    copy = vector;
    EXPECT_EQ(copy.Count(), 0);
    EXPECT_EQ(copy.Length(), 0);
}

TEST(SimpleDynVecClassTest, AddGrowsByTheLargerOfAQuarterAndFour) {
    SimpleDynVecClass<int*> vector;
    std::vector<int> sizes;
    int target = 0;
    for (int added = 0; added < 31; ++added) {
        ASSERT_TRUE(vector.Add(&target));
        if (sizes.empty() || sizes.back() != vector.Length()) {
            sizes.push_back(vector.Length());
        }
    }
    EXPECT_EQ(sizes, (std::vector<int>{4, 8, 12, 16, 20, 25, 31}));
    EXPECT_EQ(vector.Count(), 31);
}

TEST(SimpleDynVecClassTest, DeleteKeepsOrderAndShrinksWhenUnderAQuarterFull) {
    int items[16];
    SimpleDynVecClass<int*> vector;
    for (int& item : items) {
        vector.Add(&item);
    }
    ASSERT_EQ(vector.Length(), 16);
    while (vector.Count() > 4) {
        ASSERT_TRUE(vector.Delete(0));
        EXPECT_EQ(vector.Length(), 16);
    }
    ASSERT_TRUE(vector.Delete(&items[13]));
    EXPECT_EQ(vector.Count(), 3);
    EXPECT_EQ(vector.Length(), 3);
    EXPECT_EQ(vector[0], &items[12]);
    EXPECT_EQ(vector[1], &items[14]);
    EXPECT_EQ(vector[2], &items[15]);
    EXPECT_FALSE(vector.Delete(&items[13]));
    EXPECT_FALSE(vector.Delete(3));
    EXPECT_FALSE(vector.Delete(-1));
    EXPECT_EQ(vector.Count(), 3);
}

TEST(SimpleDynVecClassTest, AddingAnOwnElementWhileGrowingCopiesItFirst) {
    int items[4];
    SimpleDynVecClass<int*> vector;
    for (int& item : items) {
        vector.Add(&item);
    }
    ASSERT_EQ(vector.Length(), 4);
    ASSERT_TRUE(vector.Add(vector[2]));
    EXPECT_EQ(vector[4], &items[2]);
}

TEST(SimpleVecClassTest, ResizeAndGrowDiscardingFollowTheirSizeRules) {
    int item = 0;
    SimpleVecClass<int*> vector(2);
    EXPECT_EQ(vector[1], nullptr);
    vector[0] = &item;
    ASSERT_TRUE(vector.Resize(3));
    EXPECT_EQ(vector[0], &item);
    EXPECT_EQ(vector[2], nullptr);

    EXPECT_TRUE(vector.GrowDiscarding(2));
    EXPECT_TRUE(vector.GrowDiscarding(-5));
    EXPECT_EQ(vector.Length(), 3);
    EXPECT_EQ(vector[0], &item);
    ASSERT_TRUE(vector.GrowDiscarding(6));
    EXPECT_EQ(vector.Length(), 6);
    EXPECT_EQ(vector[0], nullptr);

    EXPECT_TRUE(vector.Resize(-1));
    EXPECT_EQ(vector.Length(), 0);
}

}  // namespace
