#include "app/waterfallview.h"

#include "cwaudio/spectrogram.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

// Dark blue noise through blue, red and yellow to white for a strong signal.
QVector<QRgb> makePalette() {
    const QColor stops[] = {QColor(0, 0, 40), QColor(0, 40, 170), QColor(200, 0, 120),
                            QColor(255, 200, 0), QColor(255, 255, 255)};
    QVector<QRgb> palette(256);
    for (int i = 0; i < 256; ++i) {
        const double x = i / 255.0 * 4;
        const int s = std::min(3, int(x));
        const double f = x - s;
        const QColor &a = stops[s], &b = stops[s + 1];
        palette[i] = qRgb(int(a.red() + (b.red() - a.red()) * f),
                          int(a.green() + (b.green() - a.green()) * f),
                          int(a.blue() + (b.blue() - a.blue()) * f));
    }
    return palette;
}

constexpr int StripHeight = 10;
constexpr float RangeDb = 40;       // noise floor to white
constexpr float KeyDownDb = 6;      // over the tone's noise floor
constexpr int ToneRows = 250;       // about 4 s of the tone's power
constexpr double ToneWidthHz = 25;  // either side of the tone

} // namespace

WaterfallView::WaterfallView(QWidget *parent)
    : QWidget(parent), key_(Columns, 0), toneHistory_(ToneRows, 0), scratch_(ToneRows),
      palette_(makePalette()) {
    setObjectName(QStringLiteral("Waterfall"));
    setAccessibleName(tr("Signal waterfall"));
    setMinimumHeight(40); // a small screen's height, else 100 or what the window gives it
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    frame_.setInterval(50); // at most 20 frames a second
    connect(&frame_, &QTimer::timeout, this, [this] {
        if (dirty_) {
            dirty_ = false;
            update();
        }
    });
}

WaterfallView::~WaterfallView() = default;

void WaterfallView::start(double sampleRate) {
    spectrogram_ = std::make_unique<Spectrogram>(sampleRate);
    picture_ = QImage(Columns, spectrogram_->bins(), QImage::Format_Indexed8);
    picture_.setColorTable(palette_);
    picture_.fill(0);
    std::fill(key_.begin(), key_.end(), 0);
    next_ = 0;
    toneNext_ = toneCount_ = 0;
    floorSet_ = false;
    running_ = true;
    frame_.start();
    update();
}

void WaterfallView::stop() {
    running_ = false;
    frame_.stop();
    update();
}

void WaterfallView::setTone(double hz) {
    if (hz != tone_) {
        tone_ = hz;
        toneNext_ = toneCount_ = 0;
        dirty_ = true;
    }
}

bool WaterfallView::seen() const {
    return isVisible() && !window()->isMinimized();
}

void WaterfallView::addSamples(const float *samples, qsizetype count) {
    if (!running_ || !seen())
        return;
    spectrogram_->feed(samples, count, [this](const float *power, int bins) { addRow(power, bins); });
}

void WaterfallView::addRow(const float *power, int bins) {
    // The noise floor: the row's lower quartile, smoothed over rows.
    scratch_.assign(power, power + bins);
    auto quartile = scratch_.begin() + bins / 4;
    std::nth_element(scratch_.begin(), quartile, scratch_.end());
    floorDb_ = floorSet_ ? floorDb_ + 0.05f * (*quartile - floorDb_) : *quartile;
    floorSet_ = true;

    const int height = picture_.height();
    for (int b = 0; b < bins; ++b) {
        const float level = (power[b] - floorDb_ + 3) / RangeDb * 255;
        // Row 0 of the image is the top: the highest frequency.
        picture_.scanLine(height - 1 - b)[next_] = uchar(std::clamp(level, 0.0f, 255.0f));
    }

    bool down = false;
    if (tone_ > 0) {
        float peak = -1e30f;
        for (int b = 0; b < bins; ++b) {
            if (std::abs(spectrogram_->binHz(b) - tone_) <= ToneWidthHz)
                peak = std::max(peak, power[b]);
        }
        if (peak > -1e30f) {
            toneHistory_[size_t(toneNext_)] = peak;
            toneNext_ = (toneNext_ + 1) % ToneRows;
            toneCount_ = std::min(toneCount_ + 1, ToneRows);
            // The tone's noise floor: its lower quartile over the last seconds,
            // so that CW keyed half the time does not lift it.
            scratch_.assign(toneHistory_.begin(), toneHistory_.begin() + toneCount_);
            auto q = scratch_.begin() + toneCount_ / 4;
            std::nth_element(scratch_.begin(), q, scratch_.end());
            down = toneCount_ > 10 && peak > *q + KeyDownDb;
        }
    }
    key_[size_t(next_)] = down;
    next_ = (next_ + 1) % Columns;
    dirty_ = true;
}

void WaterfallView::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    const QRect all = rect();
    const QRect fall(0, 0, all.width(), all.height() - StripHeight);
    const QRect strip(0, fall.bottom() + 1, all.width(), StripHeight);
    painter.fillRect(all, QColor(0, 0, 40));
    if (picture_.isNull())
        return;
    // Oldest columns (next_ .. end) at the left, newest (0 .. next_) at the right.
    const int older = Columns - next_;
    const int split = fall.width() * older / Columns;
    painter.drawImage(QRect(0, 0, split, fall.height()), picture_,
                      QRect(next_, 0, older, picture_.height()));
    painter.drawImage(QRect(split, 0, fall.width() - split, fall.height()), picture_,
                      QRect(0, 0, next_, picture_.height()));

    painter.fillRect(strip, QColor(20, 20, 20));
    const double perColumn = double(all.width()) / Columns;
    for (int c = 0; c < Columns; ++c) {
        if (!key_[size_t((next_ + c) % Columns)])
            continue;
        int run = 1;
        while (c + run < Columns && key_[size_t((next_ + c + run) % Columns)])
            ++run;
        painter.fillRect(QRectF(c * perColumn, strip.top() + 2, run * perColumn, StripHeight - 4),
                         QColor(80, 255, 80));
        c += run - 1;
    }

    if (tone_ >= Spectrogram::LowHz && tone_ <= Spectrogram::HighHz) {
        const double y = fall.height() * (1 - (tone_ - Spectrogram::LowHz)
                                                  / (Spectrogram::HighHz - Spectrogram::LowHz));
        // Lines 4 px above and below, so the trace itself stays in sight.
        painter.setPen(QPen(QColor(0, 255, 255, 140), 1, Qt::DashLine));
        painter.drawLine(QPointF(0, y - 4), QPointF(all.width(), y - 4));
        painter.drawLine(QPointF(0, y + 4), QPointF(all.width(), y + 4));
    }
}
