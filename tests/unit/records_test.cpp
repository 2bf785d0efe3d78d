// Handler records: what each invocation type stores, copies and releases.
#include "../../handlers/handler.h"
#include "host.h"

#include <gtest/gtest.h>

namespace {

struct Slot {
    HandlerSlot slot = nullptr;
    ~Slot() { _ExpatFreeHandler(slot); }
};

int set(Slot& s, const std::string& procedure, const char* environment, const char* type) {
    return _ExpatSetHandler(s.slot, procedure.size(), procedure.data(),
                            environment ? std::strlen(environment) : 0, environment,
                            type ? std::strlen(type) : 0, type);
}

enum Mode { External, Macro, Instore };

Mode modeOf(const HandlerRecord* r) {
    if (!r->instore) return External;
    return r->instore->source.strptr ? Instore : Macro;
}

} // namespace

TEST(HandlerRecords, InvocationTypeSelectsTheMode) {
    struct Case {
        const char* type;
        Mode mode;
    } cases[] = {
        {nullptr, External}, {"", External},       {"0", External},  {"abc", External},
        {"Macro", External}, {"macro ", External}, {"+", External},  {"-", External},
        {"macro", Macro},    {"MACRO", Macro},     {"1", Instore},   {" 2", Instore},
        {"-1", Instore},     {"-2", Instore},      {"3rd", Instore}, {"7abc", Instore},
    };
    for (const Case& c : cases) {
        Slot s;
        EXPECT_EQ(set(s, "say 'hi'", nullptr, c.type), 3);
        EXPECT_EQ(modeOf(s.slot), c.mode) << (c.type ? c.type : "(null)");
    }
}

TEST(HandlerRecords, WhatEachModeStores) {
    Slot ext, mac, ins;
    set(ext, "handler.rexx", "SYSTEM", nullptr);
    set(mac, "handler", "", "macro");
    set(ins, "say 'hi'", nullptr, "1");
    EXPECT_STREQ(ext.slot->procedure, "handler.rexx");
    EXPECT_STREQ(ext.slot->environment, "SYSTEM");
    EXPECT_EQ(ext.slot->instore, nullptr);
    EXPECT_STREQ(mac.slot->procedure, "handler");
    EXPECT_EQ(mac.slot->environment, nullptr); // empty environment: none
    EXPECT_EQ(mac.slot->instore->source.strptr, nullptr);
    EXPECT_EQ(mac.slot->instore->image.strptr, nullptr);
    EXPECT_STREQ(ins.slot->procedure, "");
    EXPECT_EQ(ins.slot->instore->source.strlength, 8u);
    EXPECT_STREQ(ins.slot->instore->source.strptr, "say 'hi'");
    EXPECT_EQ(ins.slot->instore->image.strptr, nullptr);
}

TEST(HandlerRecords, EmbeddedNulCutsTheCopy) {
    Slot ext, ins;
    std::string procedure("abc\0def", 7);
    set(ext, procedure, nullptr, nullptr);
    set(ins, procedure, nullptr, "1");
    EXPECT_STREQ(ext.slot->procedure, "abc");
    EXPECT_EQ(ins.slot->instore->source.strlength, 3u);
}

TEST(HandlerRecords, SettingTwiceKeepsOneRecordAndReleasesTheOld) {
    Slot s;
    set(s, "one", nullptr, "1");
    set(s, "two", "ENV", nullptr);
    EXPECT_STREQ(s.slot->procedure, "two");
    EXPECT_EQ(s.slot->instore, nullptr);
    EXPECT_EQ(_ExpatFreeHandler(s.slot), 0);
    EXPECT_EQ(s.slot, nullptr);
    EXPECT_EQ(_ExpatFreeHandler(s.slot), 0); // an empty slot stays empty
}

TEST(HandlerRecords, CopiesAreDeepAndKeepTheBinaryImage) {
    Slot source, copy;
    set(source, "say 'hi'", "SYSTEM", "1");
    // An image as the interpreter leaves it: binary, with NULs inside.
    const char image[] = {'R', '\0', 'x', '\0', 'y'};
    source.slot->instore->image.strptr = _ExpatCopyBytes(image, sizeof image);
    source.slot->instore->image.strlength = sizeof image;
    EXPECT_EQ(_ExpatCopyHandler(source.slot, copy.slot), 0);
    ASSERT_NE(copy.slot, nullptr);
    EXPECT_NE(copy.slot, source.slot);
    EXPECT_NE(copy.slot->procedure, source.slot->procedure);
    EXPECT_STREQ(copy.slot->environment, "SYSTEM");
    EXPECT_NE(copy.slot->instore, source.slot->instore);
    EXPECT_EQ(copy.slot->instore->image.strlength, sizeof image);
    EXPECT_EQ(std::memcmp(copy.slot->instore->image.strptr, image, sizeof image), 0);
    EXPECT_STREQ(copy.slot->instore->source.strptr, "say 'hi'");
    // Releasing either leaves the other intact.
    _ExpatFreeHandler(source.slot);
    EXPECT_STREQ(copy.slot->instore->source.strptr, "say 'hi'");
}

TEST(HandlerRecords, CopyingAnEmptySlotEmptiesTheDestination) {
    Slot copy;
    set(copy, "old", nullptr, nullptr);
    EXPECT_EQ(_ExpatCopyHandler(nullptr, copy.slot), 0);
    EXPECT_EQ(copy.slot, nullptr);
}

TEST(HandlerRecords, MacroSpaceCopyHasTwoEmptyStrings) {
    Slot source, copy;
    set(source, "proc", nullptr, "MACRO");
    _ExpatCopyHandler(source.slot, copy.slot);
    ASSERT_NE(copy.slot->instore, nullptr);
    EXPECT_EQ(copy.slot->instore->source.strptr, nullptr);
    EXPECT_EQ(copy.slot->instore->image.strptr, nullptr);
    EXPECT_STREQ(copy.slot->procedure, "proc");
}

TEST(HandlerRecords, ARunningRecordIsReleasedWhenItsCallReturns) {
    Slot s;
    set(s, "x", nullptr, nullptr);
    HandlerRecord* record = s.slot;
    record->running = 1; // as during its RexxStart call
    EXPECT_EQ(_ExpatFreeHandler(s.slot), 0);
    EXPECT_EQ(s.slot, nullptr);
    EXPECT_TRUE(record->detached);
    record->running = 0;
    _ExpatReleaseHandler(record); // what the invocation does when the call returns
}
