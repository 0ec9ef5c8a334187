// SPDX-License-Identifier: BSD-3-Clause
#include "gst/trelmodec.h"

#include <gst/base/gstadapter.h>

#include <algorithm>
#include <bit>
#include <memory>
#include <string>

#include "gst/companions.h"
#include "gst/engine.h"
#include "gst/typefind.h"

GST_DEBUG_CATEGORY_STATIC(trelmo_dec_debug);
#define GST_CAT_DEFAULT trelmo_dec_debug

using trelmo::gst::kBytesPerFrame;
using trelmo::gst::kEndless;
using trelmo::gst::kSampleRate;
using trelmo::gst::Settings;
using trelmo::gst::Song;

struct _TrelmoDec {
    GstElement parent;
    GstPad* sinkpad;
    GstPad* srcpad;
    GstAdapter* adapter;  // the song's bytes, until upstream's end of stream
    // From the load on, used only by the source pad's task, or under its stream lock with the task
    // paused.
    Song* song;
    GstTagList* tags;  // sent once, after the first segment
    // Ends reads of companion files when the element stops: a network can hold a read for minutes.
    GCancellable* cancellable;

    // Under the object lock.
    Settings settings;
    gboolean settingsChanged;
    gboolean loaded;
    GstSegment segment;  // what goes out, in TIME
    gboolean segmentPending;
    gboolean seekPending;
    guint64 seekFrame;
    guint32 seqnum;    // of the seek that made the segment, for the events that follow it
    guint64 length;    // frames as the settings play the song, or kEndless
    guint64 position;  // the next frame to go out
    gboolean discont;
};

G_DEFINE_TYPE(TrelmoDec, trelmo_dec, GST_TYPE_ELEMENT)
GST_ELEMENT_REGISTER_DEFINE(trelmodec, "trelmodec", GST_RANK_PRIMARY, TRELMO_TYPE_DEC)

namespace {

// About 23 ms a buffer: seeks and property changes are heard at once, and pushing costs little.
constexpr size_t kChunkFrames = 1024;

enum { kPropStereoSeparation = 1, kPropLoops, kPropFade, kPropMuteMask };

GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("audio/x-raw, format = (string) S16LE, rate = (int) 44100, channels = (int) 2, "
                    "layout = (string) interleaved"));

// Frames and times: a frame's time is rounded down, and a time's frame is the first one at or after
// it, so that every frame's own time leads back to that frame.
GstClockTime FrameTime(guint64 frame) {
    return gst_util_uint64_scale_int(frame, GST_SECOND, kSampleRate);
}
guint64 TimeFrame(GstClockTime time) {
    return gst_util_uint64_scale_int_ceil(time, kSampleRate, GST_SECOND);
}

// Between TIME, DEFAULT (frames) and BYTES.
bool Convert(GstFormat from, gint64 value, GstFormat to, gint64& result) {
    if (value < 0 || from == to) {
        result = value;
        return true;
    }
    guint64 frame = 0;
    const auto unsigned_value = static_cast<guint64>(value);
    switch (from) {
        case GST_FORMAT_TIME:
            frame = TimeFrame(unsigned_value);
            break;
        case GST_FORMAT_DEFAULT:
            frame = unsigned_value;
            break;
        case GST_FORMAT_BYTES:
            frame = unsigned_value / kBytesPerFrame;
            break;
        default:
            return false;
    }
    switch (to) {
        case GST_FORMAT_TIME:
            result = static_cast<gint64>(FrameTime(frame));
            return true;
        case GST_FORMAT_DEFAULT:
            result = static_cast<gint64>(frame);
            return true;
        case GST_FORMAT_BYTES:
            result = static_cast<gint64>(frame * kBytesPerFrame);
            return true;
        default:
            return false;
    }
}

void LogLoaderLine(const char* line) {
    GST_CAT_INFO(trelmo_dec_debug, "%s", line);
}

std::string Title(const std::string& file_name) {
    const size_t dot = file_name.rfind('.');
    if (dot != std::string::npos && dot > 0) {
        const std::string extension = file_name.substr(dot + 1);
        if (g_ascii_strcasecmp(extension.c_str(), "mtp") == 0 ||
            g_ascii_strcasecmp(extension.c_str(), "ntg") == 0)
            return file_name.substr(0, dot);
    }
    return file_name;
}

// The URI upstream reads from, or "" when it does not say (a pipe, an application's buffers).
std::string UpstreamUri(TrelmoDec* self) {
    std::string uri;
    GstQuery* query = gst_query_new_uri();
    gchar* answer = nullptr;
    if (gst_pad_peer_query(self->sinkpad, query)) gst_query_parse_uri(query, &answer);
    if (answer != nullptr) uri = answer;
    g_free(answer);
    gst_query_unref(query);
    return uri;
}

// Loads what upstream gave. A local song loads from its path, so that its companion files are
// looked for exactly as for any song on disk (a shared DOC.DATA in the current folder too); any other
// one from upstream's bytes, with its companions read through GIO from the same folder.
int LoadSong(TrelmoDec* self, Song& song, std::string& file_name) {
    const std::string uri = UpstreamUri(self);
    file_name = uri.empty() ? std::string() : trelmo::gst::UriFileName(uri.c_str());
    if (g_ascii_strncasecmp(uri.c_str(), "file:", 5) == 0) {
        gchar* path = g_filename_from_uri(uri.c_str(), nullptr, nullptr);
        if (path != nullptr) {
            GST_DEBUG_OBJECT(self, "loading %s", path);
            const int status = song.LoadFile(path);
            g_free(path);
            return status;
        }
    }
    const gsize size = gst_adapter_available(self->adapter);
    const void* bytes = size > 0 ? gst_adapter_map(self->adapter, size) : nullptr;
    std::unique_ptr<trelmo::gst::FolderCompanions> companions;
    if (!file_name.empty())
        companions = std::make_unique<trelmo::gst::FolderCompanions>(uri.c_str(), self->cancellable);
    GST_DEBUG_OBJECT(self, "loading %" G_GSIZE_FORMAT " bytes from %s", size,
                     uri.empty() ? "upstream" : uri.c_str());
    const int status =
        song.LoadMemory(bytes, size, file_name.empty() ? "SONG" : file_name.c_str(), companions.get());
    if (bytes != nullptr) gst_adapter_unmap(self->adapter);
    return status;
}

GstTagList* SongTags(const trelmo::gst::SongFacts& facts, const std::string& file_name) {
    GstTagList* tags = gst_tag_list_new_empty();
    if (!file_name.empty()) {
        // A file name is bytes; a tag is UTF-8.
        gchar* title = g_utf8_make_valid(Title(file_name).c_str(), -1);
        gst_tag_list_add(tags, GST_TAG_MERGE_REPLACE, GST_TAG_TITLE, title, nullptr);
        g_free(title);
    }
    gst_tag_list_add(tags, GST_TAG_MERGE_REPLACE, GST_TAG_CONTAINER_FORMAT, facts.kindName.c_str(), nullptr);
    if (!facts.instruments.empty())
        gst_tag_list_add(tags, GST_TAG_MERGE_REPLACE, GST_TAG_COMMENT, facts.instruments.c_str(), nullptr);
    if (!facts.message.empty())
        gst_tag_list_add(tags, GST_TAG_MERGE_REPLACE, GST_TAG_DESCRIPTION, facts.message.c_str(), nullptr);
    return tags;
}

void Loop(gpointer data);

// At upstream's end of stream: the song is whole.
gboolean Load(TrelmoDec* self) {
    auto song = std::make_unique<Song>(LogLoaderLine);
    std::string file_name;
    const int status = LoadSong(self, *song, file_name);
    gst_adapter_clear(self->adapter);
    if (status != 0) {
        const std::string message = Song::Message(status);
        GST_ELEMENT_ERROR(self, STREAM, DECODE,
                          ("%s: %s", file_name.empty() ? "song" : file_name.c_str(), message.c_str()),
                          ("the library could not load the song (status %d)", status));
        return FALSE;
    }
    const trelmo::gst::SongFacts facts = song->Facts();
    if (!facts.missing.empty()) {
        GST_ELEMENT_WARNING(self, STREAM, DECODE, ("%s", facts.missing.c_str()), (nullptr));
    }
    GST_OBJECT_LOCK(self);
    song->Apply(self->settings);
    self->settingsChanged = FALSE;
    self->length = song->Length();
    self->song = song.release();
    self->tags = SongTags(facts, file_name);
    self->loaded = TRUE;
    GST_OBJECT_UNLOCK(self);
    gst_element_post_message(GST_ELEMENT(self), gst_message_new_duration_changed(GST_OBJECT(self)));
    return gst_pad_start_task(self->srcpad, Loop, self, nullptr);
}

void PushEnd(TrelmoDec* self, guint32 seqnum, const GstSegment& segment) {
    if ((segment.flags & GST_SEGMENT_FLAG_SEGMENT) != 0) {
        const auto position = static_cast<gint64>(segment.position);
        GstMessage* message = gst_message_new_segment_done(GST_OBJECT(self), GST_FORMAT_TIME, position);
        gst_message_set_seqnum(message, seqnum);
        gst_element_post_message(GST_ELEMENT(self), message);
        GstEvent* event = gst_event_new_segment_done(GST_FORMAT_TIME, position);
        gst_event_set_seqnum(event, seqnum);
        gst_pad_push_event(self->srcpad, event);
        return;
    }
    GstEvent* eos = gst_event_new_eos();
    gst_event_set_seqnum(eos, seqnum);
    gst_pad_push_event(self->srcpad, eos);
}

// One buffer a turn. Settings and seeks are taken up between buffers, on this thread: the engine
// is only ever used from one thread at a time.
void Loop(gpointer data) {
    auto* self = TRELMO_DEC(data);
    GST_OBJECT_LOCK(self);
    const bool apply = self->settingsChanged;
    const Settings settings = self->settings;
    self->settingsChanged = FALSE;
    const bool seek = self->seekPending;
    self->seekPending = FALSE;
    const guint64 seek_frame = self->seekFrame;
    GST_OBJECT_UNLOCK(self);

    Song& song = *self->song;
    if (apply) song.Apply(settings);
    if (seek) song.Seek(seek_frame);
    const guint64 frame = song.Position();

    GST_OBJECT_LOCK(self);
    const bool length_changed = apply && self->length != song.Length();
    self->length = song.Length();
    self->position = frame;
    if (seek) self->discont = TRUE;
    const bool send_segment = self->segmentPending;
    self->segmentPending = FALSE;
    if (send_segment) self->segment.position = FrameTime(frame);
    const GstSegment segment = self->segment;
    const guint32 seqnum = self->seqnum;
    guint64 end = self->length;
    GST_OBJECT_UNLOCK(self);

    if (length_changed)
        gst_element_post_message(GST_ELEMENT(self), gst_message_new_duration_changed(GST_OBJECT(self)));
    if (send_segment) {
        if (!gst_pad_has_current_caps(self->srcpad)) {
            GstCaps* caps = gst_pad_get_pad_template_caps(self->srcpad);
            gst_pad_push_event(self->srcpad, gst_event_new_caps(caps));
            gst_caps_unref(caps);
        }
        GstEvent* event = gst_event_new_segment(&segment);
        gst_event_set_seqnum(event, seqnum);
        gst_pad_push_event(self->srcpad, event);
        if (self->tags != nullptr) {
            gst_pad_push_event(self->srcpad, gst_event_new_tag(self->tags));
            self->tags = nullptr;
        }
    }

    if (segment.stop != GST_CLOCK_TIME_NONE) end = std::min(end, TimeFrame(segment.stop));
    const size_t want = frame < end ? static_cast<size_t>(std::min<guint64>(kChunkFrames, end - frame)) : 0;
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, want * kBytesPerFrame, nullptr);
    GstMapInfo map;
    size_t got = 0;
    if (want > 0 && gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
        auto* samples = reinterpret_cast<int16_t*>(map.data);
        got = song.Render(samples, want);
        if constexpr (std::endian::native == std::endian::big) {
            for (size_t i = 0; i < got * trelmo::gst::kChannels; ++i)
                samples[i] = static_cast<int16_t>(GUINT16_SWAP_LE_BE(samples[i]));
        }
        gst_buffer_unmap(buffer, &map);
    }
    if (got == 0) {
        gst_buffer_unref(buffer);
        GST_DEBUG_OBJECT(self, "the song ends at frame %" G_GUINT64_FORMAT, frame);
        gst_pad_pause_task(self->srcpad);
        PushEnd(self, seqnum, segment);
        return;
    }
    gst_buffer_set_size(buffer, static_cast<gssize>(got * kBytesPerFrame));
    GST_BUFFER_PTS(buffer) = FrameTime(frame);
    GST_BUFFER_DURATION(buffer) = FrameTime(frame + got) - FrameTime(frame);
    GST_BUFFER_OFFSET(buffer) = frame;
    GST_BUFFER_OFFSET_END(buffer) = frame + got;

    GST_OBJECT_LOCK(self);
    if (self->discont) GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
    self->discont = FALSE;
    self->position = frame + got;
    self->segment.position = FrameTime(frame + got);
    GST_OBJECT_UNLOCK(self);

    const GstFlowReturn flow = gst_pad_push(self->srcpad, buffer);
    if (flow == GST_FLOW_OK) return;
    GST_DEBUG_OBJECT(self, "pausing: %s", gst_flow_get_name(flow));
    gst_pad_pause_task(self->srcpad);
    if (flow == GST_FLOW_EOS) {
        PushEnd(self, seqnum, segment);
    } else if (flow == GST_FLOW_NOT_LINKED || flow < GST_FLOW_EOS) {
        GST_ELEMENT_FLOW_ERROR(self, flow);
        PushEnd(self, seqnum, segment);
    }
}

gboolean Seek(TrelmoDec* self, GstEvent* event) {
    gdouble rate = 1.0;
    GstFormat format = GST_FORMAT_UNDEFINED;
    GstSeekFlags flags = GST_SEEK_FLAG_NONE;
    GstSeekType start_type = GST_SEEK_TYPE_NONE, stop_type = GST_SEEK_TYPE_NONE;
    gint64 start = -1, stop = -1;
    gst_event_parse_seek(event, &rate, &format, &flags, &start_type, &start, &stop_type, &stop);
    // The song plays forwards only.
    if (rate <= 0.0) return FALSE;
    if (!Convert(format, start, GST_FORMAT_TIME, start) || !Convert(format, stop, GST_FORMAT_TIME, stop))
        return FALSE;
    const bool flush = (flags & GST_SEEK_FLAG_FLUSH) != 0;
    const guint32 seqnum = gst_event_get_seqnum(event);

    if (flush) {
        GstEvent* flush_start = gst_event_new_flush_start();
        gst_event_set_seqnum(flush_start, seqnum);
        gst_pad_push_event(self->srcpad, flush_start);
    } else {
        gst_pad_pause_task(self->srcpad);
    }
    GST_PAD_STREAM_LOCK(self->srcpad);
    GST_OBJECT_LOCK(self);
    gboolean update = FALSE;
    gst_segment_do_seek(&self->segment, rate, GST_FORMAT_TIME, flags, start_type, static_cast<guint64>(start),
                        stop_type, static_cast<guint64>(stop), &update);
    self->seekFrame = TimeFrame(self->segment.position);
    self->seekPending = TRUE;
    self->segmentPending = TRUE;
    self->seqnum = seqnum;
    const bool loaded = self->loaded;
    GST_DEBUG_OBJECT(self, "seek to frame %" G_GUINT64_FORMAT, self->seekFrame);
    GST_OBJECT_UNLOCK(self);
    if (flush) {
        GstEvent* flush_stop = gst_event_new_flush_stop(TRUE);
        gst_event_set_seqnum(flush_stop, seqnum);
        gst_pad_push_event(self->srcpad, flush_stop);
    }
    if (loaded) gst_pad_start_task(self->srcpad, Loop, self, nullptr);
    GST_PAD_STREAM_UNLOCK(self->srcpad);
    return TRUE;
}

gboolean SinkEvent(GstPad* pad, GstObject* parent, GstEvent* event) {
    auto* self = TRELMO_DEC(parent);
    switch (GST_EVENT_TYPE(event)) {
        case GST_EVENT_EOS: {
            gst_event_unref(event);
            GST_OBJECT_LOCK(self);
            const bool loaded = self->loaded;
            GST_OBJECT_UNLOCK(self);
            return loaded ? TRUE : Load(self);
        }
        case GST_EVENT_FLUSH_STOP:
            GST_OBJECT_LOCK(self);
            if (!self->loaded) gst_adapter_clear(self->adapter);
            GST_OBJECT_UNLOCK(self);
            gst_event_unref(event);
            return TRUE;
        // The song's bytes come in; what goes out has caps, segments, flushes and tags of its own.
        case GST_EVENT_CAPS:
        case GST_EVENT_SEGMENT:
        case GST_EVENT_FLUSH_START:
        case GST_EVENT_TAG:
            gst_event_unref(event);
            return TRUE;
        default:
            return gst_pad_event_default(pad, parent, event);
    }
}

GstFlowReturn SinkChain(GstPad*, GstObject* parent, GstBuffer* buffer) {
    auto* self = TRELMO_DEC(parent);
    GST_OBJECT_LOCK(self);
    const bool loaded = self->loaded;
    GST_OBJECT_UNLOCK(self);
    if (loaded) {
        gst_buffer_unref(buffer);
        return GST_FLOW_EOS;
    }
    gst_adapter_push(self->adapter, buffer);
    // A stream can be endless; no song is this large.
    if (gst_adapter_available(self->adapter) > trelmo::gst::kMaxSongBytes) {
        const std::string message = Song::Message(trelmo::gst::kTooLargeStatus);
        GST_ELEMENT_ERROR(self, STREAM, DECODE, ("%s", message.c_str()),
                          ("more than %" G_GSIZE_FORMAT " bytes", trelmo::gst::kMaxSongBytes));
        return GST_FLOW_ERROR;
    }
    return GST_FLOW_OK;
}

gboolean SrcEvent(GstPad* pad, GstObject* parent, GstEvent* event) {
    if (GST_EVENT_TYPE(event) == GST_EVENT_SEEK) {
        const gboolean done = Seek(TRELMO_DEC(parent), event);
        gst_event_unref(event);
        return done;
    }
    return gst_pad_event_default(pad, parent, event);
}

gboolean SrcQuery(GstPad* pad, GstObject* parent, GstQuery* query) {
    auto* self = TRELMO_DEC(parent);
    GST_OBJECT_LOCK(self);
    const bool loaded = self->loaded;
    const guint64 length = self->length, position = self->position;
    const GstSegment segment = self->segment;
    GST_OBJECT_UNLOCK(self);
    const bool known = loaded && length != kEndless;
    GstFormat format = GST_FORMAT_UNDEFINED;
    gint64 value = 0;
    switch (GST_QUERY_TYPE(query)) {
        case GST_QUERY_DURATION:
            gst_query_parse_duration(query, &format, nullptr);
            if (!known || !Convert(GST_FORMAT_DEFAULT, static_cast<gint64>(length), format, value))
                return FALSE;
            gst_query_set_duration(query, format, value);
            return TRUE;
        case GST_QUERY_POSITION:
            gst_query_parse_position(query, &format, nullptr);
            if (!loaded || !Convert(GST_FORMAT_DEFAULT, static_cast<gint64>(position), format, value))
                return FALSE;
            gst_query_set_position(query, format, value);
            return TRUE;
        case GST_QUERY_SEEKING:
            gst_query_parse_seeking(query, &format, nullptr, nullptr, nullptr);
            if (format != GST_FORMAT_TIME && format != GST_FORMAT_DEFAULT) return FALSE;
            if (!known || !Convert(GST_FORMAT_DEFAULT, static_cast<gint64>(length), format, value))
                value = -1;
            gst_query_set_seeking(query, format, TRUE, 0, value);
            return TRUE;
        case GST_QUERY_SEGMENT: {
            // Stream time is playback time: segments start where they play from.
            const gint64 stop = segment.stop == GST_CLOCK_TIME_NONE ? -1 : static_cast<gint64>(segment.stop);
            gst_query_set_segment(query, segment.rate, GST_FORMAT_TIME, static_cast<gint64>(segment.start),
                                  stop);
            return TRUE;
        }
        case GST_QUERY_CONVERT: {
            GstFormat from = GST_FORMAT_UNDEFINED;
            gint64 from_value = 0;
            gst_query_parse_convert(query, &from, &from_value, &format, nullptr);
            if (!Convert(from, from_value, format, value)) return FALSE;
            gst_query_set_convert(query, from, from_value, format, value);
            return TRUE;
        }
        default:
            return gst_pad_query_default(pad, parent, query);
    }
}

// The task ends with the source pad: after a pad is deactivated nothing may push on it.
gboolean SrcActivateMode(GstPad* pad, GstObject*, GstPadMode, gboolean active) {
    return active ? TRUE : gst_pad_stop_task(pad);
}

void Reset(TrelmoDec* self) {
    GST_OBJECT_LOCK(self);
    gst_adapter_clear(self->adapter);
    delete self->song;
    self->song = nullptr;
    if (self->tags != nullptr) gst_tag_list_unref(self->tags);
    self->tags = nullptr;
    self->loaded = FALSE;
    gst_segment_init(&self->segment, GST_FORMAT_TIME);
    self->segmentPending = TRUE;
    self->seekPending = FALSE;
    self->seekFrame = 0;
    self->seqnum = gst_util_seqnum_next();
    self->length = 0;
    self->position = 0;
    self->discont = TRUE;
    GST_OBJECT_UNLOCK(self);
}

GstStateChangeReturn ChangeState(GstElement* element, GstStateChange transition) {
    auto* self = TRELMO_DEC(element);
    if (transition == GST_STATE_CHANGE_READY_TO_PAUSED) {
        Reset(self);
        g_cancellable_reset(self->cancellable);
    }
    // Before the pads go down: their deactivation waits for a load under way.
    if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) g_cancellable_cancel(self->cancellable);
    const GstStateChangeReturn result =
        GST_ELEMENT_CLASS(trelmo_dec_parent_class)->change_state(element, transition);
    if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) {
        // A load that was under way when the pads went down may have started the task since.
        gst_pad_stop_task(self->srcpad);
        Reset(self);
    }
    return result;
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
    auto* self = TRELMO_DEC(object);
    GST_OBJECT_LOCK(self);
    switch (id) {
        case kPropStereoSeparation:
            self->settings.stereoSeparation = g_value_get_int(value);
            break;
        case kPropLoops:
            self->settings.loops = g_value_get_int(value);
            break;
        case kPropFade:
            self->settings.fadeMilliseconds = g_value_get_uint(value);
            break;
        case kPropMuteMask:
            self->settings.muteMask = g_value_get_uint(value);
            break;
        default:
            G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
            break;
    }
    self->settingsChanged = TRUE;
    GST_OBJECT_UNLOCK(self);
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
    auto* self = TRELMO_DEC(object);
    GST_OBJECT_LOCK(self);
    switch (id) {
        case kPropStereoSeparation:
            g_value_set_int(value, self->settings.stereoSeparation);
            break;
        case kPropLoops:
            g_value_set_int(value, self->settings.loops);
            break;
        case kPropFade:
            g_value_set_uint(value, self->settings.fadeMilliseconds);
            break;
        case kPropMuteMask:
            g_value_set_uint(value, self->settings.muteMask);
            break;
        default:
            G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
            break;
    }
    GST_OBJECT_UNLOCK(self);
}

void Finalize(GObject* object) {
    auto* self = TRELMO_DEC(object);
    delete self->song;
    if (self->tags != nullptr) gst_tag_list_unref(self->tags);
    g_object_unref(self->adapter);
    g_object_unref(self->cancellable);
    G_OBJECT_CLASS(trelmo_dec_parent_class)->finalize(object);
}

}  // namespace

static void trelmo_dec_class_init(TrelmoDecClass* klass) {
    GST_DEBUG_CATEGORY_INIT(trelmo_dec_debug, "trelmodec", 0, "Apple IIgs song decoder");
    GObjectClass* object_class = G_OBJECT_CLASS(klass);
    object_class->set_property = SetProperty;
    object_class->get_property = GetProperty;
    object_class->finalize = Finalize;
    const Settings defaults;
    const auto flags =
        static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_PLAYING);
    g_object_class_install_property(
        object_class, kPropStereoSeparation,
        g_param_spec_int("stereo-separation", "Stereo separation",
                         "Percent: 100 is the IIgs's hard left and right, 0 is mono", 0, 100,
                         defaults.stereoSeparation, flags));
    g_object_class_install_property(
        object_class, kPropLoops,
        g_param_spec_int("loops", "Loops",
                         "How many times the song repeats after playing once (-1: for ever)", -1,
                         G_MAXINT - 1, defaults.loops, flags));
    g_object_class_install_property(
        object_class, kPropFade,
        g_param_spec_uint("fade", "Fade",
                          "Milliseconds at the end of the last repeat that fade out to silence", 0,
                          G_MAXUINT32, defaults.fadeMilliseconds, flags));
    g_object_class_install_property(
        object_class, kPropMuteMask,
        g_param_spec_uint("mute-mask", "Mute mask", "Silent tracks: bit 0 is track 1, bit 13 track 14", 0,
                          (1u << 14) - 1, defaults.muteMask, flags));

    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
    element_class->change_state = ChangeState;
    // The media types the typefinders give.
    GstCaps* songs = gst_caps_new_empty_simple(trelmo::gst::kSoundSmithType);
    gst_caps_append(songs, gst_caps_new_empty_simple(trelmo::gst::kNoiseTrackerType));
    gst_element_class_add_pad_template(element_class,
                                       gst_pad_template_new("sink", GST_PAD_SINK, GST_PAD_ALWAYS, songs));
    gst_caps_unref(songs);
    gst_element_class_add_static_pad_template(element_class, &src_template);
    gst_element_class_set_static_metadata(element_class, "Apple IIgs song decoder", "Codec/Decoder/Audio",
                                          "Plays SoundSmith / MegaTracker and NoiseTracker GS songs, with "
                                          "their wave banks and ASIF instruments",
                                          "Trelmo");
}

static void trelmo_dec_init(TrelmoDec* self) {
    self->sinkpad = gst_pad_new_from_template(
        gst_element_class_get_pad_template(GST_ELEMENT_GET_CLASS(self), "sink"), "sink");
    gst_pad_set_event_function(self->sinkpad, SinkEvent);
    gst_pad_set_chain_function(self->sinkpad, SinkChain);
    gst_element_add_pad(GST_ELEMENT(self), self->sinkpad);

    self->srcpad = gst_pad_new_from_static_template(&src_template, "src");
    gst_pad_set_event_function(self->srcpad, SrcEvent);
    gst_pad_set_query_function(self->srcpad, SrcQuery);
    gst_pad_set_activatemode_function(self->srcpad, SrcActivateMode);
    gst_pad_use_fixed_caps(self->srcpad);
    gst_element_add_pad(GST_ELEMENT(self), self->srcpad);

    self->adapter = gst_adapter_new();
    self->cancellable = g_cancellable_new();
    self->settings = Settings{};
    gst_segment_init(&self->segment, GST_FORMAT_TIME);
}
