// Score conversion stages: track scan, timing, pre-conversion and the
// note-data builder.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "base/Console.h"
#include "base/State.h"

namespace korvalin {

Status scanTracks(RunState& run, FileState& file, Console& out);
// Summarizes tracks one after another for the scan (see TrackSummary). The
// reader runs one on each thread that reads tracks, so that the scan mostly
// only combines the summaries.
class TrackSummarizer final : public TrackVisitor {
  public:
    explicit TrackSummarizer(std::uint32_t percussionChannel);
    ~TrackSummarizer();
    TrackSummarizer(const TrackSummarizer&) = delete;
    TrackSummarizer& operator=(const TrackSummarizer&) = delete;

    // Walks the events alone, up to the end-of-track event, into `summary`
    // (left invalid when memory runs out), storing every note-off as 0x8n as
    // the scan does.
    void summarize(std::span<MidiEvent> events, TrackSummary& summary);
    // The reader's tracks: their times never go back, which is not checked.
    void visit(std::span<MidiEvent> events, TrackSummary& summary) override {
        summarizeInOrder(events, summary);
    }

  private:
    // summarize() for events whose times are known never to go back.
    void summarizeInOrder(std::span<MidiEvent> events, TrackSummary& summary);

    struct Walk;
    std::unique_ptr<Walk> walk_;  // made on first use, kept between tracks
    std::uint32_t percussionChannel_;
};

// The reader's maker of summarizers (see TrackVisitorMaker).
std::unique_ptr<TrackVisitor> makeTrackSummarizer(std::uint32_t percussionChannel);

Status chooseTiming(const RunState& run, FileState& file, Console& out);
Status preconvertTracks(const RunState& run, FileState& file, Console& out);

// Builds the packed data of patterns 0..lastPattern (file.patterns already holds
// lastPattern + 1 records) and maybe a closing pattern; sets channelCount.
Status buildNoteData(RunState& run, FileState& file, std::uint32_t lastPattern,
                     std::uint32_t lastRow, Console& out);

}  // namespace korvalin
