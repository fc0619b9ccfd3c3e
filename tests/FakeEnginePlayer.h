// An engine player record for client tests: a field of fixed cells, a next queue and a hold
// piece drawn through the game's ClientInterface exactly as the engine's drawing calls do,
// and a value store of live 32-bit entries.
#pragma once

#include "DoublyLinkedList.h"
#include "Zelvik_ClientInterface.h"
#include "Zelvik_Field.h"
#include "Zelvik_Player.h"

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct FakeCell {
    int32_t x, y;
    uint32_t data;
    int32_t percent;
    uint32_t flags;
};

struct FakeEnginePlayer {
    Player player{};
    Field field{};
    FieldOps fieldOps{};
    PlayerOps ops{};
    ClientInterface* ci = nullptr;
    std::vector<FakeCell> cells;                 // field cells drawn each DrawField
    std::vector<std::vector<FakeCell>> previews; // per preview index
    std::vector<FakeCell> hold;
    std::vector<std::unique_ptr<int32_t>> values;

    static std::map<Player*, FakeEnginePlayer*>& Registry() {
        static std::map<Player*, FakeEnginePlayer*> all;
        return all;
    }
    static FakeEnginePlayer* From(Player* p) { return Registry().at(p); }

    FakeEnginePlayer(ClientInterface* clientInterface, uintptr_t userData) : ci(clientInterface) {
        fieldOps.GetWidth = [](Field* f) { return f->width; };
        fieldOps.GetHeight = [](Field* f) { return f->height; };
        field.ops = &fieldOps;
        field.width = 10;
        field.height = 20;
        ops.DrawField = [](Player* p, uint32_t) {
            FakeEnginePlayer* self = From(p);
            for (const FakeCell& c : self->cells)
                self->ci->ops->DrawFieldBlock(self->ci, c.x, c.y, c.data, c.percent, c.flags,
                                              p->UserData);
            return 0;
        };
        ops.DrawNextQueue = [](Player* p, int32_t index, uint32_t) {
            FakeEnginePlayer* self = From(p);
            if (index < 0 || size_t(index) >= self->previews.size()) return 0;
            for (const FakeCell& c : self->previews[size_t(index)])
                self->ci->ops->DrawNextBlock(self->ci, index, c.x, c.y, c.data, c.flags,
                                             p->UserData);
            return 0;
        };
        ops.DrawHold = [](Player* p, uint32_t) {
            FakeEnginePlayer* self = From(p);
            for (const FakeCell& c : self->hold)
                self->ci->ops->DrawHoldBlock(self->ci, c.x, c.y, c.data, c.flags, p->UserData);
            return 0;
        };
        ops.GetValue = [](Player* p, const char16_t* key, uint32_t* out) -> int32_t {
            if (!out) return 0;
            for (DoublyLinkedListElement* e = p->ValueList->First; e; e = e->Next) {
                auto* kv = static_cast<KeyValueEntry*>(DoublyLinkedList_Data(e));
                if (std::u16string(kv->key) == key && kv->type == 0 && kv->size >= 4) {
                    std::memcpy(out, kv->data, 4);
                    return 1;
                }
            }
            return 0;
        };
        player.ops = &ops;
        player.Id = 1;
        player.Field = &field;
        player.UserData = userData;
        player.Settings.FramesPerSecond = 60.0;
        player.Settings.ReadyTime = 60;
        player.ValueList = DoublyLinkedList_Create(sizeof(KeyValueEntry));
        player.ModeList = DoublyLinkedList_Create(sizeof(ModeEntry));
        Registry()[&player] = this;
    }
    ~FakeEnginePlayer() {
        Registry().erase(&player);
        DoublyLinkedList_FreeList(player.ValueList);
        DoublyLinkedList_FreeList(player.ModeList);
    }
    FakeEnginePlayer(const FakeEnginePlayer&) = delete;
    FakeEnginePlayer& operator=(const FakeEnginePlayer&) = delete;

    // A live 32-bit value; returns the storage so the test can change it.
    int32_t* SetValue(const std::u16string& key, int32_t v) {
        values.push_back(std::make_unique<int32_t>(v));
        auto* kv = static_cast<KeyValueEntry*>(DoublyLinkedList_AddElement(player.ValueList));
        std::memcpy(kv->key, key.c_str(), (key.size() + 1) * sizeof(char16_t));
        kv->type = 0;
        kv->data = values.back().get();
        kv->size = 4;
        kv->flags = kValueCallerMemory;
        return values.back().get();
    }
    void SetMode(const std::u16string& name) {
        auto* m = static_cast<ModeEntry*>(DoublyLinkedList_AddElement(player.ModeList));
        ZelvikID id{};
        std::memcpy(id.name, name.c_str(), name.size() * sizeof(char16_t));
        std::memcpy(&m->id, &id, sizeof id);
    }
};
