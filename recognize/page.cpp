// Preparing a picture of a card for reading: grey, whitened around the card and between
// the lines, and the boxes of its lines of text.
#include "recognize/page.h"

#include <QPainter>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <vector>

namespace Recognize::Page {

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
} // namespace Recognize::Page
