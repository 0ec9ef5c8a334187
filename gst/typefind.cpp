// SPDX-License-Identifier: BSD-3-Clause
#include "gst/typefind.h"

#include <cstring>

#include "gst/engine.h"
#include "instruments/block_reader.h"

namespace trelmo::gst {
namespace {

constexpr guint kHeadBytes = 16;

bool Has(const guint8* head, guint size, size_t offset, const char* text) {
    // The reader never writes through the view; it only needs the bounds.
    const ByteView bytes{const_cast<guint8*>(head), size};
    const size_t length = std::strlen(text);
    if (!Contains(bytes, offset, length)) return false;
    for (size_t i = 0; i < length; ++i)
        if (ReadU8(bytes, offset + i) != static_cast<uint8_t>(text[i])) return false;
    return true;
}

// How sure the bytes make us of each kind; 0 for not at all. The library decides what is a song;
// the magic decides how sure: NoiseTracker GS's scattered letters and "SONGOK" are strong, a bare
// "KOV" (three letters any file may begin with) and SoundSmith's other "SON..K" forms are not.
guint NoiseTrackerChance(const guint8* head, guint size) {
    return Has(head, size, 2, "FTA") && Has(head, size, 6, "MO") && Has(head, size, 15, "E")
               ? GST_TYPE_FIND_MAXIMUM
               : 0;
}

guint SoundSmithChance(const guint8* head, guint size) {
    if (Has(head, size, 0, "SONGOK")) return GST_TYPE_FIND_MAXIMUM;
    if (Has(head, size, 0, "SON")) return GST_TYPE_FIND_LIKELY;
    return Has(head, size, 0, "KOV") ? GST_TYPE_FIND_POSSIBLE : 0;
}

// Peeks at as many of the first bytes as the file has.
const guint8* PeekHead(GstTypeFind* find, guint& size) {
    const guint64 length = gst_type_find_get_length(find);
    size = length > 0 && length < kHeadBytes ? static_cast<guint>(length) : kHeadBytes;
    for (; size > 0; --size) {
        if (const guint8* head = gst_type_find_peek(find, 0, size)) return head;
    }
    return nullptr;
}

struct Kind {
    const char* type;
    guint (*chance)(const guint8*, guint);
};
const Kind kNoiseTracker{kNoiseTrackerType, NoiseTrackerChance};
const Kind kSoundSmith{kSoundSmithType, SoundSmithChance};

void Find(GstTypeFind* find, gpointer data) {
    const Kind& kind = *static_cast<const Kind*>(data);
    guint size = 0;
    const guint8* head = PeekHead(find, size);
    if (head == nullptr || !LooksLikeSong(head, size)) return;
    const guint chance = kind.chance(head, size);
    if (chance > 0) gst_type_find_suggest_empty_simple(find, chance, kind.type);
}

}  // namespace

gboolean RegisterTypeFinders(GstPlugin* plugin) {
    GstCaps* soundsmith = gst_caps_new_empty_simple(kSoundSmithType);
    GstCaps* noisetracker = gst_caps_new_empty_simple(kNoiseTrackerType);
    const gboolean registered =
        gst_type_find_register(plugin, "trelmo-soundsmith", GST_RANK_PRIMARY, Find, "mtp", soundsmith,
                               const_cast<Kind*>(&kSoundSmith), nullptr) &&
        gst_type_find_register(plugin, "trelmo-noisetracker-gs", GST_RANK_PRIMARY, Find, "ntg", noisetracker,
                               const_cast<Kind*>(&kNoiseTracker), nullptr);
    gst_caps_unref(soundsmith);
    gst_caps_unref(noisetracker);
    return registered;
}

}  // namespace trelmo::gst
