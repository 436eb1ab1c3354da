// The PP-OCR recognition model, its input fixed at a few widths by scripts/fix-ocr-model.py
// (OpenCV 4.6 runs no model whose sizes are known only when it runs).
#include "recognize/ppocr.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <opencv2/dnn.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace Recognize {

namespace {

const int kHeight = 48;
// Each width is a file of its own: a line is read by the narrowest that holds it, since the
// time grows with the width; a longer line is squeezed into the widest.
const int kWidths[] = {160, 320, 480, 640, 960, 1280};
// The model gives a column of class scores for every 8 pixels of its input.
const int kStride = 8;

QString netFile(const QString& folder, int width) {
    return QStringLiteral("%1/rec-%2x%3.onnx").arg(folder).arg(kHeight).arg(width);
}

} // namespace

struct PpOcr::Net {
    int width = 0;
    mutable cv::dnn::Net net;
};

PpOcr::PpOcr() = default;
PpOcr::~PpOcr() = default;

std::unique_ptr<PpOcr> PpOcr::load(const QString& folder) {
    // OpenCV's threads split each line among the cores and spin while they wait: on a small
    // machine they cost more processor time than they save.
    cv::setNumThreads(1);
    std::unique_ptr<PpOcr> model(new PpOcr);
    QFile keys(folder + QStringLiteral("/keys.txt"));
    if (!keys.open(QIODevice::ReadOnly))
        return nullptr;
    for (const QByteArray& key : keys.readAll().split('\n')) {
        if (!key.isEmpty())
            model->m_keys << QString::fromUtf8(key.endsWith('\r') ? key.chopped(1) : key);
    }
    model->m_keys << QStringLiteral(" ");
    for (const int width : kWidths) {
        const QString file = netFile(folder, width);
        if (!QFileInfo(file).isFile())
            continue;
        auto net = std::make_unique<Net>();
        net->width = width;
        try {
            net->net = cv::dnn::readNetFromONNX(QFile::encodeName(file).toStdString());
            // The shapes are worked out without running the model: a file cut short or
            // made for other keys is caught here, not on the first card.
            std::vector<cv::dnn::MatShape> in, out;
            const std::vector<int> last = net->net.getUnconnectedOutLayers();
            if (last.size() != 1)
                return nullptr;
            net->net.getLayerShapes(cv::dnn::MatShape{1, 3, kHeight, width}, last.front(), in, out);
            if (out.size() != 1 || out.front().size() != 3 || out.front()[1] != width / kStride ||
                out.front()[2] != model->m_keys.size() + 1)
                return nullptr;
        } catch (const cv::Exception&) {
            return nullptr;
        }
        model->m_nets.push_back(std::move(net));
    }
    return model->m_nets.empty() ? nullptr : std::move(model);
}

TextLine PpOcr::readPiece(const QImage& gray, int threshold, const Likely& likely,
                          QList<double>* gapBefore) const {
    TextLine line;
    if (gray.isNull() || gray.height() < 2 || gray.width() < 2)
        return line;
    const cv::Mat source(gray.height(), gray.width(), CV_8UC1, const_cast<uchar*>(gray.bits()),
                         size_t(gray.bytesPerLine()));
    const double scale = double(kHeight) / gray.height();
    const Net* net = m_nets.back().get();
    for (const auto& n : m_nets) {
        if (n->width >= gray.width() * scale) {
            net = n.get();
            break;
        }
    }
    const int width = std::clamp(int(std::lround(gray.width() * scale)), 1, net->width);
    cv::Mat scaled;
    cv::resize(source, scaled, cv::Size(width, kHeight), 0, 0,
               scale < 1 ? cv::INTER_AREA : cv::INTER_LINEAR);
    // As the model was trained: three equal channels scaled to -1..1, padded with 0 (grey).
    cv::Mat blob(std::vector<int>{1, 3, kHeight, net->width}, CV_32F, cv::Scalar(0));
    for (int c = 0; c < 3; ++c) {
        cv::Mat plane(kHeight, net->width, CV_32F, blob.ptr<float>(0, c));
        scaled.convertTo(plane(cv::Rect(0, 0, width, kHeight)), CV_32F, 2.0 / 255.0, -1.0);
    }
    cv::Mat scores;
    try {
        net->net.setInput(blob);
        scores = net->net.forward();
    } catch (const cv::Exception&) {
        line.confidence = -1;
        return line;
    }
    // Greedy CTC: the best class of each column, repeats and blanks dropped; a character's
    // confidence is the best score of its run. Columns over the padding are left out.
    struct Read {
        int key;
        double confidence;
        int first, last; // columns
    };
    const int steps = std::min(scores.size[1], width / kStride + 1);
    const int classes = scores.size[2];
    std::vector<Read> read;
    int previous = 0;
    for (int t = 0; t < steps; ++t) {
        const float* row = scores.ptr<float>(0, t);
        const int best = int(std::max_element(row, row + classes) - row);
        if (best != 0 && best == previous) {
            read.back().confidence = std::max(read.back().confidence, double(row[best]));
            read.back().last = t;
        } else if (best != 0 && best <= m_keys.size()) {
            read.push_back({best - 1, row[best], t, t});
        }
        previous = best;
    }
    const int space = int(m_keys.size()) - 1;
    while (!read.empty() && read.back().key == space)
        read.pop_back();
    while (!read.empty() && read.front().key == space)
        read.erase(read.begin());
    // A mail's "@" read as a round letter on a far shot: where no "@" was read, a letter
    // the model gave the "@" some chance at, with a host after it, was the "@". Elsewhere
    // the model gives it none.
    const int atKey = int(m_keys.indexOf(QStringLiteral("@")));
    if (atKey >= 0 &&
        std::none_of(read.begin(), read.end(), [&](const Read& r) { return r.key == atKey; })) {
        size_t at = read.size();
        float chance = 0.005f;
        for (size_t i = 1; i + 1 < read.size(); ++i) {
            if (!QStringLiteral("oaecgQ0").contains(m_keys[read[i].key]))
                continue;
            for (int t = read[i].first; t <= read[i].last + 1 && t < steps; ++t) {
                if (scores.ptr<float>(0, t)[atKey + 1] > chance) {
                    chance = scores.ptr<float>(0, t)[atKey + 1];
                    at = i;
                }
            }
        }
        if (at < read.size()) {
            QString before, after;
            for (size_t i = 0; i < read.size(); ++i)
                (i < at ? before : after) += i == at ? QString() : m_keys[read[i].key];
            static const QRegularExpression host(
                QStringLiteral("^[a-z0-9\\-]+(\\.[a-z0-9\\-]+)*\\.(com|cn|net|org|edu|gov)$"));
            static const QRegularExpression name(QStringLiteral("[a-z0-9]$"));
            if (host.match(after).hasMatch() && name.match(before).hasMatch()) {
                read[at].key = atKey;
                read[at].confidence = chance;
            }
        }
    }
    if (likely) {
        // A name: where the model is torn between characters (或 and 彧), the one names are
        // made of wins unless it is much less likely.
        int at = 0;
        for (Read& r : read) {
            if (r.key == space)
                continue;
            int peak = r.first;
            for (int t = r.first; t <= r.last; ++t) {
                if (scores.ptr<float>(0, t)[r.key + 1] > scores.ptr<float>(0, peak)[r.key + 1])
                    peak = t;
            }
            const float* row = scores.ptr<float>(0, peak);
            double best = 0;
            for (int k = 1; k <= m_keys.size() && k < classes; ++k) {
                if (row[k] < 0.02 || m_keys[k - 1].size() != 1)
                    continue;
                const double weighed = row[k] * likely(at, m_keys[k - 1][0]);
                if (weighed > best) {
                    best = weighed;
                    r.key = k - 1;
                    r.confidence = row[k];
                }
            }
            ++at;
        }
    }

    // The model seldom gives all the blanks between groups of digits, words or Chinese
    // items: a blank where the ink leaves a gap wider than two fifths of the type's height
    // beside a Chinese character, three fifths between two (they stand a little apart
    // anyway). Between Latin letters and digits the gap is weighed against the line's own
    // spacing: on a blurred far shot a narrow "1", "i" or "." stands as far from its
    // neighbours as a blank does on a sharp card, so a blank there must be well wider than
    // the gaps between most letters of the line.
    std::vector<bool> inked(size_t(width), false);
    int top = kHeight, bottom = -1;
    for (int y = 0; y < kHeight; ++y) {
        const uchar* row = scaled.ptr<uchar>(y);
        for (int x = 0; x < width; ++x) {
            if (row[x] < threshold) {
                inked[size_t(x)] = true;
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    const int type = std::max(8, bottom - top + 1);
    auto latin = [&](int key) {
        return m_keys[key].size() == 1 && m_keys[key][0].unicode() < 0x2E80;
    };
    auto gapBetween = [&](const Read& a, const Read& b) {
        const int from = std::clamp((a.first + a.last + 1) * kStride / 2, 0, width);
        const int to = std::clamp((b.first + b.last + 1) * kStride / 2, from, width);
        int longest = 0, run = 0;
        for (int x = from; x < to; ++x) {
            run = inked[size_t(x)] ? 0 : run + 1;
            longest = std::max(longest, run);
        }
        return longest;
    };
    std::vector<int> gaps(read.size(), 0), latinGaps;
    for (size_t i = 1; i < read.size(); ++i) {
        gaps[i] = gapBetween(read[i - 1], read[i]);
        if (latin(read[i - 1].key) && latin(read[i].key) && read[i - 1].key != space &&
            read[i].key != space)
            latinGaps.push_back(gaps[i]);
    }
    // Weighed on the hard set's tuning half: 7 of some 4,700 blanks between letters and
    // digits misplaced, against 206 with a quarter of the type's height for every line.
    double latinWide = type / 4.0;
    if (latinGaps.size() >= 4) {
        std::nth_element(latinGaps.begin(), latinGaps.begin() + long(latinGaps.size() / 2),
                         latinGaps.end());
        const double usual = latinGaps[latinGaps.size() / 2];
        latinWide = std::min(std::max(type / 5.0, 1.5 * usual + type / 9.0), 0.45 * type);
    }
    // Signs that no blank is printed beside, however far a narrow one stands: none before
    // closing signs, none beside "@" or "_", none after a dot inside an address, none in
    // "+86-135".
    auto signsJoin = [&](const Read& a, const Read& b) {
        const QChar x = m_keys[a.key][0], y = m_keys[b.key][0];
        return QStringLiteral(".,:;)").contains(y) || x == QLatin1Char('@') ||
               y == QLatin1Char('@') || x == QLatin1Char('_') || y == QLatin1Char('_') ||
               (x == QLatin1Char('.') && y.isLower()) || (x == QLatin1Char('-') && y.isDigit()) ||
               (y == QLatin1Char('-') && x.isDigit());
    };
    auto blankBetween = [&](size_t i) {
        const Read& a = read[i - 1];
        const Read& b = read[i];
        if (a.key == space || b.key == space)
            return false;
        const int both = int(latin(a.key)) + int(latin(b.key));
        if (both == 2)
            return !signsJoin(a, b) && gaps[i] > latinWide;
        return gaps[i] > (both == 1 ? type * 2 / 5 : type * 3 / 5);
    };
    double sum = 0;
    for (size_t i = 0; i < read.size(); ++i) {
        const Read& r = read[i];
        if (i > 0 && blankBetween(i)) {
            line.text += QLatin1Char(' ');
            if (gapBefore)
                *gapBefore << double(gaps[i]) / type;
        }
        if (gapBefore) {
            for (int k = 0; k < m_keys[r.key].size(); ++k)
                *gapBefore << (k == 0 ? double(gaps[i]) / type : 0.0);
        }
        if (r.confidence < kUnsureBelow) {
            for (int k = 0; k < m_keys[r.key].size(); ++k)
                line.unsure << int(line.text.size()) + k;
        }
        line.text += m_keys[r.key];
        sum += r.confidence;
    }
    line.confidence = read.empty() ? 0 : int(std::lround(100 * sum / double(read.size())));
    return line;
}

std::optional<TextLine> PpOcr::read(const QImage& gray, int threshold, const QRect& box, int gap,
                                    const Likely& likely, QList<double>* gapBefore) const {
    const QRect r = box.intersected(gray.rect());
    TextLine line;
    line.box = box;
    if (r.isEmpty())
        return line;
    // Items sharing a line stand apart by a blank wider than gap: each is read on its own
    // and a tab parts them, as the card parser expects.
    std::vector<bool> inked(size_t(r.width()), false);
    for (int y = r.top(); y <= r.bottom(); ++y) {
        const uchar* row = gray.constScanLine(y);
        for (int x = 0; x < r.width(); ++x)
            inked[size_t(x)] = inked[size_t(x)] || row[r.left() + x] < threshold;
    }
    std::vector<std::pair<int, int>> pieces; // [start, end) in the box
    int blank = 0;
    for (int x = 0; x < r.width(); ++x) {
        if (!inked[size_t(x)]) {
            ++blank;
            continue;
        }
        if (pieces.empty() || blank > gap)
            pieces.emplace_back(x, x + 1);
        else
            pieces.back().second = x + 1;
        blank = 0;
    }
    const int pad = std::max(2, r.height() / 5);
    double sum = 0;
    int characters = 0;
    for (const auto& [start, end] : pieces) {
        const QRect area = QRect(r.left() + start - pad, r.top() - pad, end - start + 2 * pad,
                                 r.height() + 2 * pad)
                               .intersected(gray.rect());
        QList<double> pieceGaps;
        TextLine piece = readPiece(gray.copy(area), threshold, likely, &pieceGaps);
        if (piece.confidence < 0)
            return std::nullopt;
        if (piece.text.isEmpty())
            continue;
        if (!line.text.isEmpty()) {
            line.text += QLatin1Char('\t');
            pieceGaps.front() = double(gap) / std::max(1, r.height());
            if (gapBefore)
                *gapBefore << pieceGaps.front();
        }
        if (gapBefore)
            *gapBefore << pieceGaps;
        for (const int u : piece.unsure)
            line.unsure << int(line.text.size()) + u;
        line.text += piece.text;
        sum += double(piece.confidence) * double(piece.text.size());
        characters += int(piece.text.size());
    }
    line.confidence = characters ? int(std::lround(sum / characters)) : 0;
    return line;
}

} // namespace Recognize
