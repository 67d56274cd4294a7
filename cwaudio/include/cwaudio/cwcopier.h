#pragma once

#include <QString>

#include <functional>
#include <memory>

// One transmission copied from the audio: one line of text.
struct CopiedLine {
    double start = 0; // seconds from the first sample to the line's first element
    // The copied text in ITU Morse, words separated by one blank. A beacon
    // frame reads "S KADRIN " and its 20 symbols, '#' for a symbol the
    // copier is unsure of.
    QString text;
    bool beacon = false; // read as a beacon frame
    double snrDb = 0;    // of this transmission, in 2,500 Hz
    double toneHz = 0;   // the carrier it was keyed on, its mean over the transmission
    int unsure = 0;      // beacon symbols written '#'
};

// What the copier found in the audio so far: of the beacon's carrier once
// a frame was copied, before that of the last line's.
struct CopyFigures {
    double seconds = 0;          // audio fed
    double toneHz = 0;           // the tone copied; 0 when none was found
    double driftHzPerSecond = 0; // how fast it moved
    double wpm = 0;              // speed, words per minute (PARIS)
    double snrDb = 0;            // signal to noise ratio in 2,500 Hz, estimated
    double trackedHz = 0;        // the tone followed at this moment; 0 when none
    int lines = 0;
    int frames = 0;
};

// Copies CW from mono audio samples as they come, at one sample rate from
// 8 kHz to 48 kHz: finds every keyed carrier and each one's speed by
// itself, copies each carrier on its own, and hands on each line soon after
// its transmission has ended, the lines of all carriers in the order they
// started. The copy does not depend on how the audio is handed in. Memory
// stays bounded however long the audio is.
class CwCopier {
public:
    explicit CwCopier(double sampleRate);
    ~CwCopier();
    CwCopier(const CwCopier &) = delete;
    CwCopier &operator=(const CwCopier &) = delete;

    // Called for each copied line, in order, as soon as it is complete.
    void setLineHandler(std::function<void(const CopiedLine &)> handler);
    void feed(const float *samples, qsizetype count);
    // The end of the audio (a recording's, or listening stopped): the last
    // transmission is handed on as far as it was keyed, a character the end
    // cuts off written '#'.
    void finish();
    CopyFigures figures() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};
