// The Tesseract side of card reading, built as a module the program loads on first use.
#include "recognize/linereader.h"
#include "recognize/names.h"

#include <QPainter>

#include <leptonica/allheaders.h>
#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

#ifdef _OPENMP
#include <omp.h>
#endif

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <vector>

namespace Recognize {

namespace {

struct PixDeleter {
    void operator()(Pix* pix) const { pixDestroy(&pix); }
};
using PixPtr = std::unique_ptr<Pix, PixDeleter>;

struct BoxaDeleter {
    void operator()(Boxa* boxa) const { boxaDestroy(&boxa); }
};
using BoxaPtr = std::unique_ptr<Boxa, BoxaDeleter>;

PixPtr toPix(const QImage& gray) {
    PixPtr pix(pixCreate(gray.width(), gray.height(), 8));
    l_uint32* data = pixGetData(pix.get());
    const int wpl = pixGetWpl(pix.get());
    for (int y = 0; y < gray.height(); ++y) {
        const uchar* src = gray.constScanLine(y);
        l_uint32* line = data + size_t(y) * wpl;
        for (int x = 0; x < gray.width(); ++x)
            SET_DATA_BYTE(line, x, src[x]);
    }
    return pix;
}

QImage toImage(Pix* pix) {
    const int w = pixGetWidth(pix), h = pixGetHeight(pix);
    QImage image(w, h, QImage::Format_Grayscale8);
    const l_uint32* data = pixGetData(pix);
    const int wpl = pixGetWpl(pix);
    for (int y = 0; y < h; ++y) {
        uchar* dst = image.scanLine(y);
        const l_uint32* line = data + size_t(y) * wpl;
        for (int x = 0; x < w; ++x)
            dst[x] = uchar(GET_DATA_BYTE(line, x));
    }
    return image;
}

// Smaller by averaging areas: far quicker than QImage's smooth scaling of big photos.
QImage shrunk(const QImage& gray, double scale) {
    PixPtr pix = toPix(gray);
    PixPtr small(pixScaleAreaMap(pix.get(), float(scale), float(scale)));
    return small ? toImage(small.get()) : gray;
}

// Alpha over white, then grey.
QImage grayOf(const QImage& image) {
    if (!image.hasAlphaChannel())
        return image.convertToFormat(QImage::Format_Grayscale8);
    QImage flat(image.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    QPainter painter(&flat);
    painter.drawImage(0, 0, image);
    painter.end();
    return flat.convertToFormat(QImage::Format_Grayscale8);
}

bool cancelRequested(void* progress, int) {
    return progress && static_cast<Progress*>(progress)->cancelled();
}

struct PixaDeleter {
    void operator()(Pixa* pixa) const { pixaDestroy(&pixa); }
};
using PixaPtr = std::unique_ptr<Pixa, PixaDeleter>;

// Halfway between the ink and the paper: the paper is the median grey (text covers far less
// than half a card), the ink the darkest twentieth. Otsu's threshold would sit far into the
// blurred edges of the strokes of a photographed card.
int inkThreshold(const QImage& gray) {
    std::array<double, 256> histogram{};
    for (int y = 0; y < gray.height(); ++y) {
        const uchar* line = gray.constScanLine(y);
        for (int x = 0; x < gray.width(); ++x)
            ++histogram[line[x]];
    }
    const double total = double(gray.width()) * gray.height();
    auto percentile = [&](double fraction) {
        double seen = 0;
        for (int i = 0; i < 256; ++i) {
            seen += histogram[size_t(i)];
            if (seen >= fraction * total)
                return i;
        }
        return 255;
    };
    const int paper = percentile(0.5), ink = percentile(0.02);
    return paper - ink < 40 ? 128 : (paper + ink) / 2;
}

// Otsu's threshold of a grey picture.
int otsuThreshold(const QImage& gray) {
    std::array<double, 256> histogram{};
    for (int y = 0; y < gray.height(); ++y) {
        const uchar* line = gray.constScanLine(y);
        for (int x = 0; x < gray.width(); ++x)
            ++histogram[line[x]];
    }
    double total = 0, sum = 0;
    for (int i = 0; i < 256; ++i) {
        total += histogram[size_t(i)];
        sum += i * histogram[size_t(i)];
    }
    double below = 0, sumBelow = 0, best = -1;
    int threshold = 128;
    for (int t = 0; t < 256; ++t) {
        below += histogram[size_t(t)];
        sumBelow += t * histogram[size_t(t)];
        const double above = total - below;
        if (below == 0 || above == 0)
            continue;
        const double meanBelow = sumBelow / below, meanAbove = (sum - sumBelow) / above;
        const double between = below * above * (meanBelow - meanAbove) * (meanBelow - meanAbove);
        if (between > best) {
            best = between;
            threshold = t + 1;
        }
    }
    return threshold;
}

PixPtr darkMask(const QImage& gray, int threshold) {
    PixPtr pix(pixCreate(gray.width(), gray.height(), 1));
    l_uint32* data = pixGetData(pix.get());
    const int wpl = pixGetWpl(pix.get());
    for (int y = 0; y < gray.height(); ++y) {
        const uchar* src = gray.constScanLine(y);
        l_uint32* line = data + size_t(y) * wpl;
        for (int x = 0; x < gray.width(); ++x) {
            if (src[x] < threshold)
                SET_DATA_BIT(line, x);
        }
    }
    return pix;
}

// Calls paint(x, y) for every pixel of a component placed at (left, top).
template <typename F> void forEachPixel(Pix* component, int left, int top, F paint) {
    const l_uint32* data = pixGetData(component);
    const int wpl = pixGetWpl(component);
    for (int y = 0; y < int(pixGetHeight(component)); ++y) {
        const l_uint32* line = data + size_t(y) * wpl;
        for (int x = 0; x < int(pixGetWidth(component)); ++x) {
            if (GET_DATA_BIT(line, x))
                paint(left + x, top + y);
        }
    }
}

// Whites out a component placed at (left, top) and reach pixels around it.
void whiten(QImage& gray, Pix* component, int left, int top, int reach) {
    PixPtr bordered(pixAddBorder(component, reach, 0));
    PixPtr grown(pixDilateBrick(nullptr, bordered.get(), 2 * reach + 1, 2 * reach + 1));
    const QRect inside = gray.rect();
    forEachPixel(grown.get(), left - reach, top - reach, [&](int x, int y) {
        if (inside.contains(x, y))
            gray.scanLine(y)[x] = 255;
    });
}

struct Components {
    PixaPtr pixa;
    int count = 0;
};

Components componentsOf(Pix* mask) {
    Pixa* pixa = nullptr;
    BoxaPtr boxes(pixConnComp(mask, &pixa, 8));
    Components c;
    c.pixa.reset(pixa);
    c.count = pixa ? pixaGetCount(pixa) : 0;
    return c;
}

// What is not the card's printing: the table around a photographed card goes white; a dark
// band or panel with light type is turned over, so all text is dark on light.
void clearSurroundings(QImage& gray) {
    const int w = gray.width(), h = gray.height();
    // The table is the grey along the picture's edges, when that is clearly darker than the
    // paper. Only its own grey is taken, so a dark band at the card's edge stays.
    std::vector<uchar> edge;
    for (int x = 0; x < w; ++x) {
        edge.push_back(gray.constScanLine(0)[x]);
        edge.push_back(gray.constScanLine(h - 1)[x]);
    }
    for (int y = 0; y < h; ++y) {
        edge.push_back(gray.constScanLine(y)[0]);
        edge.push_back(gray.constScanLine(y)[w - 1]);
    }
    std::nth_element(edge.begin(), edge.begin() + long(edge.size() / 2), edge.end());
    const int table = edge[edge.size() / 2];
    const int paper = [&] {
        std::array<int, 256> histogram{};
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x)
                ++histogram[gray.constScanLine(y)[x]];
        }
        int seen = 0;
        for (int i = 0; i < 256; ++i) {
            seen += histogram[size_t(i)];
            if (2 * qint64(seen) >= qint64(w) * h)
                return i;
        }
        return 255;
    }();
    if (paper - table > 30) {
        const int reach = std::max(20, (paper - table) / 2);
        PixPtr mask(pixCreate(w, h, 1));
        l_uint32* data = pixGetData(mask.get());
        const int wpl = pixGetWpl(mask.get());
        for (int y = 0; y < h; ++y) {
            const uchar* src = gray.constScanLine(y);
            for (int x = 0; x < w; ++x) {
                if (std::abs(src[x] - table) <= reach)
                    SET_DATA_BIT(data + size_t(y) * wpl, x);
            }
        }
        const Components parts = componentsOf(mask.get());
        for (int i = 0; i < parts.count; ++i) {
            l_int32 x, y, cw, ch;
            pixaGetBoxGeometry(parts.pixa.get(), i, &x, &y, &cw, &ch);
            const bool border = x == 0 || y == 0 || x + cw >= w || y + ch >= h;
            if (border && double(cw) * ch > 0.02 * w * h) {
                PixPtr part(pixaGetPix(parts.pixa.get(), i, L_CLONE));
                whiten(gray, part.get(), x, y, 2);
            }
        }
    }
    PixPtr dark = darkMask(gray, otsuThreshold(gray));
    const Components parts = componentsOf(dark.get());
    for (int i = 0; i < parts.count; ++i) {
        l_int32 x, y, cw, ch, area = 0;
        pixaGetBoxGeometry(parts.pixa.get(), i, &x, &y, &cw, &ch);
        PixPtr part(pixaGetPix(parts.pixa.get(), i, L_CLONE));
        pixCountPixels(part.get(), &area, nullptr);
        if (cw >= w / 5 && ch >= h / 15 && area >= 0.55 * cw * ch) {
            PixPtr holes(pixHolesByFilling(part.get(), 4));
            auto invert = [&](int px, int py) {
                uchar& v = gray.scanLine(py)[px];
                v = uchar(255 - v);
            };
            forEachPixel(part.get(), x, y, invert);
            if (holes)
                forEachPixel(holes.get(), x, y, invert);
        }
    }
}

// Height of the marks that can be characters: the upper quartile, as characters break into
// smaller marks.
double typicalTextHeight(const QImage& gray, int threshold) {
    PixPtr dark = darkMask(gray, threshold);
    const Components parts = componentsOf(dark.get());
    std::vector<int> heights;
    for (int i = 0; i < parts.count; ++i) {
        l_int32 x, y, w, h;
        pixaGetBoxGeometry(parts.pixa.get(), i, &x, &y, &w, &h);
        if (h >= 6 && h <= gray.height() / 4 && w <= 3 * h && w >= 2)
            heights.push_back(h);
    }
    if (heights.size() < 10)
        return 0;
    std::sort(heights.begin(), heights.end());
    return heights[heights.size() * 3 / 4];
}

// A box holding two rows of text (a small department line close under a large name) split
// at the blank rows between them; rows that are specks or rules dropped.
std::vector<QRect> splitRows(const QImage& gray, int threshold, const QRect& box,
                             double textHeight) {
    const QRect r = box.intersected(gray.rect());
    std::vector<int> ink(size_t(std::max(0, r.height())), 0);
    for (int y = 0; y < r.height(); ++y) {
        const uchar* line = gray.constScanLine(r.top() + y) + r.left();
        for (int x = 0; x < r.width(); ++x)
            ink[size_t(y)] += line[x] < threshold;
    }
    const int minimum = std::max(6, int(textHeight / 2));
    const int gapNeeded = std::max(2, r.height() / 20);
    std::vector<QRect> rows;
    int start = -1, blank = 0;
    auto close = [&](int end) {
        if (start >= 0) {
            // Trim the sides to the ink of this row.
            int left = r.width(), right = -1;
            for (int y = start; y < end; ++y) {
                const uchar* line = gray.constScanLine(r.top() + y) + r.left();
                for (int x = 0; x < r.width(); ++x) {
                    if (line[x] < threshold) {
                        left = std::min(left, x);
                        right = std::max(right, x);
                    }
                }
            }
            const int w = right - left + 1, h = end - start;
            // Specks and rules (long and thin) are no text; a flat character ("一") is.
            const bool speck = h < minimum && w < textHeight / 2;
            const bool rule = w >= 25 * h && h < 0.8 * textHeight;
            if (right >= left && !speck && !rule)
                rows.emplace_back(r.left() + left, r.top() + start, w, h);
        }
        start = -1;
    };
    for (int y = 0; y < r.height(); ++y) {
        if (ink[size_t(y)] > 0) {
            if (start < 0)
                start = y;
            blank = 0;
        } else if (start >= 0 && ++blank >= gapNeeded) {
            close(y - blank + 1);
        }
    }
    if (start >= 0)
        close(r.height() - blank);
    if (rows.size() == 1)
        return {box};
    return rows;
}

// Marks that are no text go white: rules, frames, marks taller than a third of the card.
void clearNonText(QImage& gray, int threshold, double textHeight) {
    PixPtr dark = darkMask(gray, threshold);
    const Components parts = componentsOf(dark.get());
    for (int i = 0; i < parts.count; ++i) {
        l_int32 x, y, w, h;
        pixaGetBoxGeometry(parts.pixa.get(), i, &x, &y, &w, &h);
        const bool rule =
            (w >= 12 * h && h < 0.5 * textHeight) || (h >= 12 * w && w < 0.5 * textHeight);
        const bool huge = h > gray.height() / 3 || w > gray.width() * 9 / 10;
        if (rule || huge) {
            PixPtr part(pixaGetPix(parts.pixa.get(), i, L_CLONE));
            whiten(gray, part.get(), x, y, 1);
        }
    }
}

// The type size of a piece of text: its height, or for a lone character (short ones
// such as "立" or "一") its width.
int typeSize(const QRect& r) {
    return r.width() <= r.height() * 17 / 10 ? std::max(r.width(), r.height()) : r.height();
}

// Pieces whose boxes overlap much are parts of one text: the smear splits a character made
// of parts above each other ("晨", "燕") between its neighbours.
std::vector<QRect> joinOverlapping(std::vector<QRect> pieces) {
    for (bool merged = true; merged;) {
        merged = false;
        for (size_t i = 0; i < pieces.size() && !merged; ++i) {
            for (size_t j = i + 1; j < pieces.size() && !merged; ++j) {
                const QRect common = pieces[i].intersected(pieces[j]);
                const qint64 smaller = std::min(qint64(pieces[i].width()) * pieces[i].height(),
                                                qint64(pieces[j].width()) * pieces[j].height());
                if (!common.isEmpty() && qint64(common.width()) * common.height() * 4 >= smaller) {
                    pieces[i] = pieces[i].united(pieces[j]);
                    pieces.erase(pieces.begin() + long(j));
                    merged = true;
                }
            }
        }
    }
    return pieces;
}

// Parts of one widely set character stacked above each other ("立": a dot, a stroke, the
// rest) are one piece. They are close compared with the characters beside them, and
// together no taller than those.
std::vector<QRect> joinFragments(std::vector<QRect> pieces) {
    auto contextSize = [&](const QRect& u, size_t skipA, size_t skipB) {
        const QRect& a = pieces[skipA];
        const QRect& b = pieces[skipB];
        int size = 0;
        for (size_t k = 0; k < pieces.size(); ++k) {
            const QRect& p = pieces[k];
            if (k == skipA || k == skipB)
                continue;
            const int overlap = std::min(u.bottom(), p.bottom()) - std::max(u.top(), p.top()) + 1;
            const int distance = std::max(u.left(), p.left()) - std::min(u.right(), p.right());
            if (overlap * 2 >= p.height() && distance <= 3 * typeSize(p))
                size = std::max(size, typeSize(p));
        }
        return size > 0 ? size : std::max(typeSize(a), typeSize(b));
    };
    for (bool merged = true; merged;) {
        merged = false;
        for (size_t i = 0; i < pieces.size() && !merged; ++i) {
            for (size_t j = 0; j < pieces.size() && !merged; ++j) {
                const QRect& a = pieces[i];
                const QRect& b = pieces[j];
                if (i == j || a.top() > b.top())
                    continue;
                const int across =
                    std::min(a.right(), b.right()) - std::max(a.left(), b.left()) + 1;
                if (across * 2 < std::min(a.width(), b.width()))
                    continue;
                const QRect u = a.united(b);
                const int gap = b.top() - a.bottom() - 1;
                const int size = contextSize(u, i, j);
                if (gap * 100 <= size * 15 && u.height() * 100 <= size * 115 &&
                    std::max(a.width(), b.width()) * 10 <= size * 13) {
                    pieces[i] = u;
                    pieces.erase(pieces.begin() + long(j));
                    merged = true;
                }
            }
        }
    }
    return pieces;
}

// Pieces on one row of similar size and close together are one line: a label and its
// value, the characters of a widely set name.
std::vector<QRect> joinRows(std::vector<QRect> pieces) {
    std::sort(pieces.begin(), pieces.end(),
              [](const QRect& a, const QRect& b) { return a.left() < b.left(); });
    for (bool merged = true; merged;) {
        merged = false;
        for (size_t i = 0; i < pieces.size() && !merged; ++i) {
            for (size_t j = i + 1; j < pieces.size() && !merged; ++j) {
                const QRect& a = pieces[i];
                const QRect& b = pieces[j];
                const int overlap =
                    std::min(a.bottom(), b.bottom()) - std::max(a.top(), b.top()) + 1;
                const int low = std::min(a.height(), b.height());
                const int high = std::max(a.height(), b.height());
                const int smaller = std::min(typeSize(a), typeSize(b));
                const int larger = std::max(typeSize(a), typeSize(b));
                const int gap = std::max(a.left(), b.left()) - std::min(a.right(), b.right());
                if (overlap * 10 >= low * 6 && larger * 10 <= smaller * 16 && gap <= 3 * high) {
                    pieces[i] = a.united(b);
                    pieces.erase(pieces.begin() + long(j));
                    merged = true;
                }
            }
        }
    }
    std::sort(pieces.begin(), pieces.end(), [](const QRect& a, const QRect& b) {
        return a.center().y() < b.center().y() ||
               (a.center().y() == b.center().y() && a.left() < b.left());
    });
    return pieces;
}

// The text lines: marks smeared sideways by about half a character run together into
// words; words of a row join into lines.
std::vector<QRect> findLines(const QImage& gray, int threshold, double textHeight) {
    PixPtr dark = darkMask(gray, threshold);
    const int reach = std::max(3, int(textHeight * 0.6));
    PixPtr smeared(pixDilateBrick(nullptr, dark.get(), reach, 1));
    BoxaPtr boxes(pixConnComp(smeared.get(), nullptr, 8));
    std::vector<QRect> pieces;
    const int n = boxes ? boxaGetCount(boxes.get()) : 0;
    for (int i = 0; i < n; ++i) {
        l_int32 x, y, w, h;
        boxaGetBoxGeometry(boxes.get(), i, &x, &y, &w, &h);
        // Undo the smear at the ends.
        const QRect box(x + reach / 2, y, std::max(1, w - reach + 1), h);
        if (h < 3 || (h < 0.35 * textHeight && w - reach < 0.5 * textHeight))
            continue; // specks, dots
        for (const QRect& row : splitRows(gray, threshold, box, textHeight))
            pieces.push_back(row);
    }
    return joinRows(joinFragments(joinOverlapping(pieces)));
}

bool isHanCharacter(QChar c) {
    return c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF;
}

bool mostlyLatin(const QString& word) {
    int letters = 0, ascii = 0;
    for (const QChar c : word) {
        if (c.unicode() < 0x80) {
            ++ascii;
            letters += c.isLetter();
        }
    }
    return letters >= 2 && 2 * ascii >= word.size();
}

struct Word {
    QString text;
    float confidence;
    bool spaced; // blank before it
    QRect box;
};

// One line of text on a picture of that line alone.
std::vector<Word> readWords(tesseract::TessBaseAPI& api, Pix* pix, tesseract::ETEXT_DESC* monitor,
                            tesseract::PageSegMode mode = tesseract::PSM_SINGLE_LINE) {
    api.SetPageSegMode(mode);
    api.SetImage(pix);
    api.SetSourceResolution(300);
    std::vector<Word> words;
    if (api.Recognize(monitor) != 0)
        return words;
    std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    if (!it)
        return mode == tesseract::PSM_SINGLE_LINE
                   ? readWords(api, pix, monitor, tesseract::PSM_RAW_LINE)
                   : words;
    do {
        std::unique_ptr<char[]> text(it->GetUTF8Text(tesseract::RIL_WORD));
        int left, top, right, bottom;
        if (!text || !it->BoundingBox(tesseract::RIL_WORD, &left, &top, &right, &bottom))
            continue;
        words.push_back({QString::fromUtf8(text.get()).trimmed(),
                         it->Confidence(tesseract::RIL_WORD), it->BlanksBeforeWord() > 0,
                         QRect(QPoint(left, top), QPoint(right - 1, bottom - 1))});
    } while (it->Next(tesseract::RIL_WORD));
    // Tesseract's own search for the line sometimes finds none on a clear line; then the
    // whole picture is taken as the line.
    if (words.empty() && mode == tesseract::PSM_SINGLE_LINE)
        return readWords(api, pix, monitor, tesseract::PSM_RAW_LINE);
    return words;
}

// One line read on a picture of its own, its characters about target pixels high. Words in
// Latin letters (mail, web, pinyin) are read again with the English model.
TextLine readLine(tesseract::TessBaseAPI& chinese, tesseract::TessBaseAPI& latin,
                  const QImage& page, const QRect& box, double target,
                  tesseract::ETEXT_DESC* monitor) {
    const int pad = std::max(4, box.height() / 4);
    const QRect area = box.adjusted(-pad, -pad, pad, pad).intersected(page.rect());
    const double scale =
        std::min({target / std::max(1, typeSize(box)), 5.0, 4000.0 / std::max(1, area.width())});
    const QImage crop = page.copy(area).scaled(std::max(1, int(area.width() * scale)),
                                               std::max(1, int(area.height() * scale)),
                                               Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    PixPtr linePix = toPix(crop);
    std::vector<Word> words = readWords(chinese, linePix.get(), monitor);
    for (Word& w : words) {
        if (!mostlyLatin(w.text))
            continue;
        const int wordPad = std::max(3, w.box.height() / 5);
        const QRect wordArea =
            w.box.adjusted(-wordPad, -wordPad, wordPad, wordPad).intersected(crop.rect());
        PixPtr wordPix = toPix(crop.copy(wordArea));
        QStringList texts;
        float sum = 0;
        const std::vector<Word> again = readWords(latin, wordPix.get(), monitor);
        for (const Word& a : again) {
            texts << a.text;
            sum += a.confidence;
        }
        const float confidence = again.empty() ? 0 : sum / float(again.size());
        // The models' confidences do not compare well; the English one is preferred unless
        // it is much less sure, and always over Chinese characters amid Latin letters.
        const bool mixed = std::any_of(w.text.begin(), w.text.end(), isHanCharacter);
        if (!again.empty() && (mixed || confidence >= 25 || confidence > w.confidence)) {
            w.text = texts.join(QLatin1Char(' '));
            w.confidence = confidence;
        }
    }
    // Specks and rules at the ends of a line come out as unsure signs.
    auto junk = [](const Word& w) {
        return w.confidence < 40 && std::none_of(w.text.begin(), w.text.end(),
                                                 [](QChar c) { return c.isLetterOrNumber(); });
    };
    while (!words.empty() && junk(words.back()))
        words.pop_back();
    while (!words.empty() && junk(words.front()))
        words.erase(words.begin());
    TextLine line;
    line.box = box;
    double sum = 0;
    for (const Word& w : words) {
        if (!line.text.isEmpty() && w.spaced)
            line.text += QLatin1Char(' ');
        line.text += w.text;
        sum += w.confidence;
    }
    line.confidence = words.empty() ? 0 : int(sum / double(words.size()));
    return line;
}

using Votes = std::map<QChar, double>; // character: summed confidence

// The cells of the characters of a line of large Chinese type: ink columns cut at blank
// columns, parts narrower than a character (the halves of "孙") joined, runs wider than one
// (touching characters) cut evenly.
std::vector<QRect> characterCells(const QImage& page, int threshold, const QRect& box) {
    const QRect r = box.intersected(page.rect());
    std::vector<bool> inked(size_t(std::max(0, r.width())), false);
    for (int y = r.top(); y <= r.bottom(); ++y) {
        const uchar* line = page.constScanLine(y);
        for (int x = 0; x < r.width(); ++x)
            inked[size_t(x)] = inked[size_t(x)] || line[r.left() + x] < threshold;
    }
    std::vector<std::pair<int, int>> runs; // [start, end)
    for (int x = 0; x < r.width(); ++x) {
        if (!inked[size_t(x)])
            continue;
        if (runs.empty() || runs.back().second < x)
            runs.emplace_back(x, x + 1);
        else
            runs.back().second = x + 1;
    }
    const int size = r.height();
    std::vector<QRect> cells;
    for (size_t i = 0; i < runs.size();) {
        int start = runs[i].first, end = runs[i].second;
        size_t j = i + 1;
        while (j < runs.size() && (runs[j].second - start) * 100 <= size * 115)
            end = runs[j++].second;
        const int pieces = std::max(1, int(std::lround(double(end - start) / size)));
        for (int k = 0; k < pieces; ++k) {
            const int left = start + (end - start) * k / pieces;
            const int right = start + (end - start) * (k + 1) / pieces;
            cells.emplace_back(r.left() + left, r.top(), right - left, r.height());
        }
        i = j;
    }
    return cells;
}

// One character read on its own at several sizes.
Votes readCharacter(tesseract::TessBaseAPI& api, const QImage& page, const QRect& cell,
                    tesseract::ETEXT_DESC* monitor, const QString& only = QString()) {
    Votes votes;
    // The reader serves every later line: the choice must not outlive this character.
    struct Whitelist {
        tesseract::TessBaseAPI& api;
        Whitelist(tesseract::TessBaseAPI& a, const QString& only)
            : api(a) {
            api.SetVariable("tessedit_char_whitelist", only.toUtf8().constData());
        }
        ~Whitelist() { api.SetVariable("tessedit_char_whitelist", ""); }
        Whitelist(const Whitelist&) = delete;
        Whitelist& operator=(const Whitelist&) = delete;
    } whitelist(api, only);
    const int pad = std::max(4, cell.height() / 4);
    const QRect area = cell.adjusted(-pad, -pad, pad, pad).intersected(page.rect());
    const QImage piece = page.copy(area);
    for (const double target : {20.0, 24.0, 28.0, 36.0}) {
        const double scale = target / std::max({1, cell.width(), cell.height()});
        PixPtr pix = toPix(piece.scaled(std::max(1, int(area.width() * scale)),
                                        std::max(1, int(area.height() * scale)),
                                        Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        api.SetPageSegMode(tesseract::PSM_SINGLE_CHAR);
        api.SetImage(pix.get());
        api.SetSourceResolution(300);
        if (api.Recognize(monitor) != 0)
            continue;
        std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
        if (!it)
            continue;
        std::unique_ptr<char[]> text(it->GetUTF8Text(tesseract::RIL_SYMBOL));
        const QString c = text ? QString::fromUtf8(text.get()) : QString();
        if (c.size() == 1 && isHanCharacter(c[0]))
            votes[c[0]] += std::max(1.0f, it->Confidence(tesseract::RIL_SYMBOL));
    }
    return votes;
}

// The readings of a short line of large type (the name) at several sizes, and of its
// characters one by one. Where most line readings are two to four Chinese characters, each
// place takes the character given most surely: in the first place a surname counts four
// times what another character does, in the others a character common in given names
// twice. Otherwise the surest reading.
TextLine agreed(const std::vector<TextLine>& readings, const std::vector<Votes>& cells) {
    auto compact = [](const QString& s) {
        QString out;
        for (const QChar c : s) {
            if (c.isLetterOrNumber())
                out += c;
        }
        return out;
    };
    auto han = [](const QString& s) {
        return s.size() >= 2 && s.size() <= 4 && std::all_of(s.begin(), s.end(), isHanCharacter);
    };
    std::map<int, std::pair<int, double>> lengths; // length: readings, confidence
    for (const TextLine& r : readings) {
        const QString text = compact(r.text);
        if (han(text)) {
            ++lengths[int(text.size())].first;
            lengths[int(text.size())].second += r.confidence;
        }
    }
    const bool cellsRead =
        cells.size() >= 2 && cells.size() <= 4 &&
        std::none_of(cells.begin(), cells.end(), [](const Votes& v) { return v.empty(); });
    if (lengths.empty() && !cellsRead) {
        return *std::max_element(
            readings.begin(), readings.end(),
            [](const TextLine& a, const TextLine& b) { return a.confidence < b.confidence; });
    }
    // The cells count the characters better than the readings, which add marks at the ends.
    int length = int(cells.size());
    TextLine result = readings.front();
    result.confidence = 0;
    if (cellsRead && lengths.count(length)) {
        result.confidence = int(lengths[length].second / lengths[length].first);
    } else if (!cellsRead) {
        const auto best = std::max_element(lengths.begin(), lengths.end(), [](auto& a, auto& b) {
            return a.second.first < b.second.first ||
                   (a.second.first == b.second.first && a.second.second < b.second.second);
        });
        length = best->first;
        result.confidence = int(best->second.second / best->second.first);
    }
    result.text.clear();
    for (int p = 0; p < length; ++p) {
        Votes score;
        for (const TextLine& r : readings) {
            const QString text = compact(r.text);
            if (text.size() == length && han(text))
                score[text[p]] += std::max(1, r.confidence);
        }
        if (int(cells.size()) == length) {
            // Single characters are read less surely than whole lines.
            for (const auto& [c, value] : cells[size_t(p)])
                score[c] += 0.6 * value;
        }
        for (auto& [c, value] : score) {
            if (p == 0)
                value *= Names::isSurnameCharacter(c) ? 2.0 : 0.5;
            else if (Names::isGivenNameCharacter(c))
                value *= 2;
        }
        result.text += std::max_element(score.begin(), score.end(), [](auto& a, auto& b) {
                           return a.second < b.second;
                       })->first;
    }
    if (result.confidence == 0)
        result.confidence = 50;
    return result;
}

// Ordinary lines are read with their characters this many pixels high.
const double kBodyTarget = 32.0;

} // namespace

class TesseractReader : public LineReader {
public:
    bool init(const char* languageFolder) {
        if (m_chinese.Init(languageFolder, "chi_sim", tesseract::OEM_LSTM_ONLY) != 0 ||
            m_latin.Init(languageFolder, "eng", tesseract::OEM_LSTM_ONLY) != 0)
            return false;
        for (tesseract::TessBaseAPI* api : {&m_chinese, &m_latin}) {
            api->SetVariable("debug_file", "/dev/null");
            api->SetVariable("preserve_interword_spaces", "1");
        }
        return true;
    }

    std::optional<QList<TextLine>> readLines(const QImage& image, Progress* progress) override;

private:
    tesseract::TessBaseAPI m_chinese;
    tesseract::TessBaseAPI m_latin;
};

std::optional<QList<TextLine>> TesseractReader::readLines(const QImage& image, Progress* progress) {
    auto stopped = [&] { return progress && progress->cancelled(); };
    auto advance = [&](int p) {
        if (progress)
            progress->advance(p);
    };

    // Grey, at most 2400 pixels across: a card filling that has its small type some 60
    // pixels high, more than reading needs.
    QImage gray = grayOf(image);
    if (std::max(gray.width(), gray.height()) > 2400)
        gray = shrunk(gray, 2400.0 / std::max(gray.width(), gray.height()));
    if (gray.isNull() || gray.width() < 16 || gray.height() < 16)
        return QList<TextLine>();

    clearSurroundings(gray);
    const int threshold = inkThreshold(gray);
    double textHeight = typicalTextHeight(gray, threshold);
    if (textHeight > 60) {
        // Big photos: nothing is gained above this size, and everything takes longer.
        gray = shrunk(gray, 40.0 / textHeight);
        textHeight = typicalTextHeight(gray, threshold);
    }
    if (textHeight <= 0)
        textHeight = std::max(8, gray.height() / 20);
    if (stopped())
        return std::nullopt;
    advance(5);

    // Straighten: small turns only.
    l_float32 angle = 0, confidence = 0;
    {
        PixPtr binary = darkMask(gray, threshold);
        if (pixFindSkew(binary.get(), &angle, &confidence) == 0 && confidence >= 1.0f &&
            std::fabs(angle) >= 0.1f) {
            PixPtr pix = toPix(gray);
            PixPtr turned(pixRotate(pix.get(), angle * float(M_PI / 180.0), L_ROTATE_AREA_MAP,
                                    L_BRING_IN_WHITE, 0, 0));
            if (turned)
                gray = toImage(turned.get());
        }
    }
    clearNonText(gray, threshold, textHeight);
    const QImage& straight = gray;
    if (stopped())
        return std::nullopt;
    advance(10);

    const std::vector<QRect> boxes = findLines(straight, threshold, textHeight);
    advance(15);

    // Each line is read on its own, its characters about kBodyTarget pixels high. Tesseract
    // reads large type (the name) badly at its size and bold type even at that one: a short
    // line that stands out is read again at several sizes and character by character, and
    // the readings are agreed.
    tesseract::ETEXT_DESC monitor;
    monitor.cancel = &cancelRequested;
    monitor.cancel_this = progress;
    std::vector<int> sizes;
    for (const QRect& box : boxes)
        sizes.push_back(typeSize(box));
    std::sort(sizes.begin(), sizes.end());
    const int bodySize = sizes.empty() ? 0 : sizes[sizes.size() / 2];
    QList<TextLine> lines;
    int index = 0;
    for (const QRect& box : boxes) {
        TextLine line = readLine(m_chinese, m_latin, straight, box, kBodyTarget, &monitor);
        const int size = typeSize(box);
        if (size * 10 >= bodySize * 15 && box.width() <= 6 * size) {
            std::vector<TextLine> readings = {line};
            for (const double target : {20.0, 24.0, 28.0, 36.0, 44.0}) {
                if (stopped())
                    return std::nullopt;
                readings.push_back(readLine(m_chinese, m_latin, straight, box, target, &monitor));
            }
            const std::vector<QRect> cellBoxes = characterCells(straight, threshold, box);
            std::vector<Votes> cells;
            for (const QRect& cell : cellBoxes) {
                if (stopped())
                    return std::nullopt;
                cells.push_back(readCharacter(m_chinese, straight, cell, &monitor));
            }
            // A name begins with a surname: its first character is read again choosing only
            // among surnames, which rescues those the model confuses with common characters.
            if (cells.size() >= 2 && cells.size() <= 4) {
                for (const auto& [c, v] : readCharacter(m_chinese, straight, cellBoxes.front(),
                                                        &monitor, Names::surnameCharacters()))
                    cells.front()[c] += v;
            }
            line = agreed(readings, cells);
        }
        if (stopped())
            return std::nullopt;
        // A lone character is a logo or a speck: no line of a card is one character.
        if (line.text.size() > 1)
            lines << line;
        ++index;
        advance(15 + 85 * index / int(boxes.size()));
    }
    return lines;
}

} // namespace Recognize

extern "C" Q_DECL_EXPORT Recognize::LineReader*
quembe_make_line_reader(const char* languageFolder) {
#ifdef _OPENMP
    // Tesseract's OpenMP helpers spin while they wait: on two cores they triple the
    // processor time and the time a card takes. One thread reads faster.
    omp_set_max_active_levels(0);
#endif
    auto reader = std::make_unique<Recognize::TesseractReader>();
    return reader->init(languageFolder) ? reader.release() : nullptr;
}
