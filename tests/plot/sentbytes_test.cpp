#include "plot/sentbytes.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// "IN;" "SP1;" | object 1 | "PD10," "20;" (one command in two appends) | object 2 | " BP "
// (the closing text). Offsets: 0 IN; 3 SP1; 7 PD10,20; 15 closing, 19 the end.
TSentBytes SmallRun(std::int32_t before = 0)
{
    TSentBytes s(before);
    s.Append("IN;", true);
    s.Append("SP1;", true);
    s.EndObject(before + 1);
    s.Append("PD10,", true);
    s.Append("20;", false);
    s.EndObject(before + 2);
    s.MarkClosing();
    s.Append(" BP ", true);
    return s;
}

}  // namespace

// What a drop that kept the first N bytes leaves: the objects they hold, the rest of the
// command they cut, and whether that was the closing text.
TEST(SentBytes, ADropKeepsWholeObjectsAndCompletesTheCutCommand)
{
    const TSentBytes s = SmallRun();
    const struct {
        std::uint64_t Delivered;
        std::int32_t Objects;
        const char* Rest;
        bool Closing;
    } rows[] = {
        {0, 0, "", false},     {2, 0, ";", false}, {3, 0, "", false},   {7, 1, "", false}, {9, 1, "10,20;", false},
        {12, 1, "20;", false}, {15, 2, "", false}, {17, 2, "P ", true}, {19, 2, "", true},
    };
    for (const auto& r : rows) {
        bool closing = !r.Closing;
        EXPECT_EQ(s.DeliveredObjects(r.Delivered), r.Objects) << r.Delivered;
        EXPECT_EQ(s.DropRest(r.Delivered, closing), r.Rest) << r.Delivered;
        EXPECT_EQ(closing, r.Closing) << r.Delivered;
    }
    EXPECT_EQ(s.Written(), 19u);
}

TEST(SentBytes, AResumedRunCountsObjectsFromTheSheetsFirst)
{
    const TSentBytes s = SmallRun(40);
    EXPECT_EQ(s.DeliveredObjects(0), 40);
    EXPECT_EQ(s.DeliveredObjects(8), 41);
    EXPECT_EQ(s.DeliveredObjects(19), 42);
}

// After a drop the stream ends where the line does; the completion that follows ends the
// object the cut command belonged to.
TEST(SentBytes, TruncatingThenCompletingEndsTheCutObject)
{
    TSentBytes s = SmallRun();
    s.Truncate(9, 9 + 6);
    EXPECT_EQ(s.Written(), 9u);
    EXPECT_EQ(s.DeliveredObjects(9), 1);
    s.Append("10,20;", false);
    EXPECT_EQ(s.DeliveredObjects(s.Written()), 2);
    EXPECT_EQ(s.CutRest(12), "20;");
    // Nothing beyond the new end is remembered, its objects neither.
    s.Truncate(5, 5);
    EXPECT_EQ(s.DeliveredObjects(15), 0);
    EXPECT_EQ(s.CutRest(4), "P");
}

TEST(SentBytes, WhatSurelyLeftOnlyGrows)
{
    TSentBytes s = SmallRun();
    EXPECT_EQ(s.Gone(4), 15u);
    EXPECT_EQ(s.Gone(25), 0u);
    s.NoteLeft(4);
    s.NoteLeft(10);
    EXPECT_EQ(s.SurelyLeft(), 15u);
}

// A long run keeps only its recent bytes: old objects fold into the base count, and a cut
// before the kept bytes cannot be completed (nothing the queues hold is that old).
TEST(SentBytes, ALongRunKeepsItsRecentBytesAndCountsTheRest)
{
    TSentBytes s;
    const std::string unit(1000, 'x');
    const int objects = static_cast<int>(3 * TSentBytes::kTailKeep / unit.size());
    for (int n = 1; n <= objects; ++n) {
        s.Append(unit, true);
        s.EndObject(n);
    }
    EXPECT_EQ(s.Written(), static_cast<std::uint64_t>(objects) * unit.size());
    EXPECT_GT(s.DeliveredObjects(0), 0);  // folded into the base
    EXPECT_EQ(s.DeliveredObjects(s.Written()), objects);
    EXPECT_EQ(s.DeliveredObjects(s.Written() - 1), objects - 1);
    EXPECT_EQ(s.CutRest(1), "");
    EXPECT_EQ(s.CutRest(s.Written() - 10), std::string(10, 'x'));
}
