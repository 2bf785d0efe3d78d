// Handler records: what each invocation type stores, copies and releases.
#include "../../handlers/handler.h"
#include "host.h"

#include <gtest/gtest.h>

using namespace quillmark;

namespace {

struct Slot {
    HandlerRecord* slot = nullptr;
    ~Slot() { clearHandler(slot); }
};

RXSTRING rx(const char* text) {
    return text ? RXSTRING{std::strlen(text), const_cast<char*>(text)} : RXSTRING{0, nullptr};
}

void set(Slot& s, const std::string& procedure, const char* environment, const char* type) {
    setHandler(s.slot, RXSTRING{procedure.size(), const_cast<char*>(procedure.data())},
               rx(environment), rx(type));
}

// Copies one record the way a new external-entity parser gets its parent's.
void copy(const Slot& from, Slot& to) {
    HandlerTable* source = newHandlerTable();
    HandlerTable* destination = newHandlerTable();
    source->slots[0] = from.slot;
    destination->slots[0] = to.slot;
    copyHandlerTable(*source, *destination);
    to.slot = destination->slots[0];
    source->slots[0] = destination->slots[0] = nullptr;
    freeHandlerTable(source);
    freeHandlerTable(destination);
}

} // namespace

TEST(HandlerRecords, InvocationTypeSelectsTheMode) {
    constexpr Mode External = Mode::External, Macro = Mode::MacroSpace, Instore = Mode::Instore,
                   Label = Mode::Label;
    struct Case {
        const char* type;
        Mode mode;
    } cases[] = {
        {nullptr, External}, {"", External},       {"0", External},        {"abc", External},
        {"Macro", External}, {"macro ", External}, {"+", External},        {"-", External},
        {"macro", Macro},    {"MACRO", Macro},     {"1", Instore},         {" 2", Instore},
        {"-1", Instore},     {"-2", Instore},      {"3rd", Instore},       {"7abc", Instore},
        {"internal", Label}, {"INTERNAL", Label},  {"Internal", External}, {"internal ", External},
    };
    for (const Case& c : cases) {
        Slot s;
        set(s, "say 'hi'", nullptr, c.type);
        EXPECT_EQ(s.slot->mode, c.mode) << (c.type ? c.type : "(null)");
        // What a mode keeps: a pair for in-store source and the macro space only.
        EXPECT_EQ(s.slot->instore != nullptr, c.mode == Instore || c.mode == Macro);
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
    clearHandler(s.slot);
    EXPECT_EQ(s.slot, nullptr);
    clearHandler(s.slot); // an empty slot stays empty
    EXPECT_EQ(s.slot, nullptr);
}

TEST(HandlerRecords, CopiesAreDeepAndKeepTheBinaryImage) {
    Slot source, copy_;
    set(source, "say 'hi'", "SYSTEM", "1");
    // An image as the interpreter leaves it: binary, with NULs inside.
    const char image[] = {'R', '\0', 'x', '\0', 'y'};
    source.slot->instore->image.strptr = copyBytes(image, sizeof image);
    source.slot->instore->image.strlength = sizeof image;
    copy(source, copy_);
    ASSERT_NE(copy_.slot, nullptr);
    EXPECT_NE(copy_.slot, source.slot);
    EXPECT_NE(copy_.slot->procedure, source.slot->procedure);
    EXPECT_STREQ(copy_.slot->environment, "SYSTEM");
    EXPECT_NE(copy_.slot->instore, source.slot->instore);
    EXPECT_EQ(copy_.slot->instore->image.strlength, sizeof image);
    EXPECT_EQ(std::memcmp(copy_.slot->instore->image.strptr, image, sizeof image), 0);
    EXPECT_STREQ(copy_.slot->instore->source.strptr, "say 'hi'");
    // Releasing either leaves the other intact.
    clearHandler(source.slot);
    EXPECT_STREQ(copy_.slot->instore->source.strptr, "say 'hi'");
}

TEST(HandlerRecords, CopyingAnEmptySlotEmptiesTheDestination) {
    Slot empty, copy_;
    set(copy_, "old", nullptr, nullptr);
    copy(empty, copy_);
    EXPECT_EQ(copy_.slot, nullptr);
}

TEST(HandlerRecords, MacroSpaceCopyHasTwoEmptyStrings) {
    Slot source, copy_;
    set(source, "proc", nullptr, "MACRO");
    copy(source, copy_);
    ASSERT_NE(copy_.slot->instore, nullptr);
    EXPECT_EQ(copy_.slot->instore->source.strptr, nullptr);
    EXPECT_EQ(copy_.slot->instore->image.strptr, nullptr);
    EXPECT_STREQ(copy_.slot->procedure, "proc");
}

TEST(HandlerRecords, ARunningRecordIsReleasedWhenItsCallReturns) {
    Slot s;
    set(s, "x", nullptr, nullptr);
    HandlerRecord* record = s.slot;
    record->running = 1; // as during its RexxStart call
    clearHandler(s.slot);
    EXPECT_EQ(s.slot, nullptr);
    EXPECT_TRUE(record->detached);
    record->running = 0;
    letGo(record); // what the invocation does when the call returns
}
