#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <vector>

class Spectrogram;

// A scrolling waterfall of the receiver's audio: time runs left to right,
// the newest row at the right edge; frequency 200..3,000 Hz bottom to top.
// A thin line marks the tracked tone; the strip under the picture shows
// where the power around that tone stands clearly above its noise floor
// (a display only, not the copier's decision). Computes nothing while it
// cannot be seen, and repaints at most 20 times a second.
class WaterfallView : public QWidget {
    Q_OBJECT
public:
    explicit WaterfallView(QWidget *parent = nullptr);
    ~WaterfallView() override;

    void start(double sampleRate); // a new stream: clears the picture
    void addSamples(const float *samples, qsizetype count);
    void setTone(double hz);       // 0: no tone found (no mark)
    void stop();                   // keeps the picture, computes nothing more

    QSize sizeHint() const override { return {600, 100}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void addRow(const float *power, int bins);
    bool seen() const;

    static constexpr int Columns = 1024; // rows kept, about 16 s
    std::unique_ptr<Spectrogram> spectrogram_;
    bool running_ = false;
    double tone_ = 0;
    QImage picture_;         // Columns wide, one pixel row per frequency column; a ring
    int next_ = 0;           // the ring's column written next
    std::vector<uchar> key_; // key down per picture column
    std::vector<float> toneHistory_; // power at the tone, the last rows, a ring
    std::vector<float> scratch_;
    int toneNext_ = 0, toneCount_ = 0;
    float floorDb_ = 0;      // noise floor of the rows, smoothed
    bool floorSet_ = false;
    bool dirty_ = false;
    QTimer frame_;
    QVector<QRgb> palette_;
};
