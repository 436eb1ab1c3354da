// The Tesseract side of card reading, built as a module the program loads on first use.
#include "recognize/cardfinder.h"
#include "recognize/fieldpatterns.h"
#include "recognize/linereader.h"
#include "recognize/names.h"
#include "recognize/page.h"
#include "recognize/ppocr.h"
#include "recognize/readings.h"

#include <QPainter>

#include <QFile>

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

using namespace Page;

namespace {

bool cancelRequested(void* progress, int) {
    return progress && static_cast<Progress*>(progress)->cancelled();
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

// Words and characters the models are less sure of than this are shown for checking.
const float kUnsureBelow = 60.0f;

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
    // The Chinese model reads the first letters of a Latin word ("fa") as a character of its
    // own, set apart: those belong to the word read again.
    for (size_t i = 0; i + 1 < words.size(); ++i) {
        Word& han = words[i];
        const Word& next = words[i + 1];
        if (!next.spaced && han.text.size() == 1 && isHanCharacter(han.text[0]) &&
            mostlyLatin(next.text)) {
            han.text += next.text;
            han.box = han.box.united(next.box);
            han.confidence = std::min(han.confidence, next.confidence);
            words.erase(words.begin() + long(i + 1));
        }
    }
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
    // A gap wider than a character and a third parts items sharing the line (an ideographic
    // space is one character): a tab says so.
    const double wide = 1.3 * target;
    const Word* previous = nullptr;
    for (const Word& w : words) {
        if (previous && w.box.left() - previous->box.right() > wide)
            line.text += QLatin1Char('\t');
        else if (!line.text.isEmpty() && w.spaced)
            line.text += QLatin1Char(' ');
        if (w.confidence < kUnsureBelow) {
            for (int k = 0; k < w.text.size(); ++k)
                line.unsure << int(line.text.size()) + k;
        }
        line.text += w.text;
        sum += w.confidence;
        previous = &w;
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
    result.unsure.clear();
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
        const auto best = std::max_element(score.begin(), score.end(),
                                           [](auto& a, auto& b) { return a.second < b.second; });
        // A character the readings at several sizes disagree on is marked for checking.
        double total = 0;
        for (const auto& [c, value] : score)
            total += value;
        if (best->second < 0.6 * total)
            result.unsure << int(result.text.size());
        result.text += best->first;
    }
    if (result.confidence == 0)
        result.confidence = 50;
    return result;
}

// Latin letters or digits in a reading.
bool hasLatin(const QString& text) {
    return std::any_of(text.begin(), text.end(),
                       [](QChar c) { return c.unicode() < 0x80 && c.isLetterOrNumber(); });
}

// A line of Latin letters and digits alone that Tesseract reads this surely it reads right:
// the model, which costs twice as much, is not asked (the hard set's tuning half read as
// well without it, in a fifth less processor time; at 88 rather than 93 as well again, in
// some 5 % less).
bool sureLatin(const TextLine& line) {
    return line.confidence >= 88 && !line.text.contains(QLatin1Char('\t')) &&
           std::none_of(line.text.begin(), line.text.end(), isHanCharacter);
}

// Chinese lines Tesseract reads less surely than this are read again by the model.
const int kDoubtedBelow = 90;

// How many items stand on the line in `box`: runs of ink apart by more than `gap` pixels.
int itemsOn(const QImage& gray, int threshold, const QRect& box, int gap) {
    const QRect r = box.intersected(gray.rect());
    std::vector<bool> inked(size_t(std::max(0, r.width())), false);
    for (int y = r.top(); y <= r.bottom(); ++y) {
        const uchar* row = gray.constScanLine(y);
        for (int x = 0; x < r.width(); ++x)
            inked[size_t(x)] = inked[size_t(x)] || row[r.left() + x] < threshold;
    }
    int items = 0, blank = gap + 1;
    for (const bool ink : inked) {
        items += ink && blank > gap;
        blank = ink ? 0 : blank + 1;
    }
    return items;
}

// The characters of a reading without blanks, full-width signs as half-width ones.
QString bare(const QString& text) {
    QString out;
    for (const QChar c : text) {
        if (c.isSpace())
            continue;
        out += c.unicode() >= 0xFF01 && c.unicode() <= 0xFF5E ? QChar(c.unicode() - 0xFEE0) : c;
    }
    return out;
}

// The letters, digits and characters of a reading, small: what two readings that differ in
// signs and blanks alone share. The model loses the "_" of a mail and the blanks of a
// photocopied number that Tesseract keeps.
QString lettersOf(const QString& text) {
    QString out;
    for (const QChar c : text) {
        if (c.isLetterOrNumber())
            out += c.toLower();
    }
    return out;
}

// A name set with its characters far apart is one name: the blanks between Chinese
// characters go, and the marks of unsure characters move with them.
void closeUp(TextLine& line) {
    for (int i = int(line.text.size()) - 2; i > 0; --i) {
        if (!line.text[i].isSpace() || !isHanCharacter(line.text[i - 1]) ||
            !isHanCharacter(line.text[i + 1]))
            continue;
        line.text.remove(i, 1);
        line.unsure.removeAll(i);
        for (int& at : line.unsure)
            at -= at > i;
    }
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

    bool loadModel(const char* folder) override {
        m_model = PpOcr::load(QFile::decodeName(folder));
        return bool(m_model);
    }

    void setRecognizer(Recognizer recognizer) override { m_recognizer = recognizer; }

    QImage cardOf(const QImage& image) override {
        return CardFinder::straightened(image, cornersOf(image));
    }

private:
    // The card's corners on the picture; those of the picture read last are remembered, as
    // the picture kept of a card is cut out along them after it is read.
    QPolygonF cornersOf(const QImage& image) {
        if (image.cacheKey() != m_cornersOf) {
            m_corners = CardFinder::corners(image);
            m_cornersOf = image.cacheKey();
        }
        return m_corners;
    }

    // The model's reading of the name line.
    std::optional<TextLine> readName(const QImage& straight, int threshold, const QRect& box);
    // Tesseract's reading of one line; nothing when cancelled.
    std::optional<TextLine> readWithTesseract(const QImage& straight, int threshold,
                                              const QRect& box, int bodySize,
                                              tesseract::ETEXT_DESC* monitor, Progress* progress);

    tesseract::TessBaseAPI m_chinese;
    tesseract::TessBaseAPI m_latin;
    std::unique_ptr<PpOcr> m_model;
    Recognizer m_recognizer = Recognizer::Tesseract;
    QPolygonF m_corners;
    qint64 m_cornersOf = 0;
};

namespace {

// How likely a character is at place `at` of a name: a surname first, then characters of
// given names; the model's score is weighed by it where it hesitates.
double nameLikely(int at, QChar c) {
    return (at == 0 ? Names::isSurnameCharacter(c) : Names::isGivenNameCharacter(c)) ? 3.0 : 0.35;
}

} // namespace

std::optional<TextLine> TesseractReader::readName(const QImage& straight, int threshold,
                                                  const QRect& box) {
    std::optional<TextLine> line =
        m_model->read(straight, threshold, box, box.width(), &nameLikely);
    if (!line)
        return line;
    closeUp(*line);
    // The model passes over a character it hardly knows (垚 between others) as if it were
    // not there; alone in its cell it is read.
    const std::vector<QRect> cells = characterCells(straight, threshold, box);
    const auto han = std::count_if(line->text.begin(), line->text.end(), isHanCharacter);
    if (cells.size() < 2 || cells.size() > 4 || han >= qsizetype(cells.size()) ||
        han != line->text.size())
        return line;
    TextLine apart;
    apart.box = box;
    int sum = 0;
    for (const QRect& cell : cells) {
        // Read with more or less paper around it: a character the model hardly knows is
        // read at one of these sizes (垚 on a photo with a tenth of its height), the
        // surest reading wins.
        const int at = int(apart.text.size());
        TextLine best;
        double bestScore = 0;
        for (const int share : {5, 10, 3}) {
            const int pad = std::max(2, cell.height() / share);
            const TextLine c = m_model->readPiece(
                straight.copy(cell.adjusted(-pad, -pad, pad, pad).intersected(straight.rect())),
                threshold, [at](int, QChar ch) { return nameLikely(at, ch); });
            if (c.text.size() == 1 && isHanCharacter(c.text[0]) &&
                c.confidence * nameLikely(at, c.text[0]) > bestScore) {
                best = c;
                bestScore = c.confidence * nameLikely(at, c.text[0]);
            }
            if (best.confidence >= 90)
                break;
        }
        if (best.text.isEmpty())
            return line;
        if (!best.unsure.isEmpty())
            apart.unsure << int(apart.text.size());
        apart.text += best.text;
        sum += best.confidence;
    }
    apart.confidence = sum / int(cells.size());
    return apart;
}

std::optional<TextLine> TesseractReader::readWithTesseract(const QImage& straight, int threshold,
                                                           const QRect& box, int bodySize,
                                                           tesseract::ETEXT_DESC* monitor,
                                                           Progress* progress) {
    auto stopped = [&] { return progress && progress->cancelled(); };
    TextLine line = readLine(m_chinese, m_latin, straight, box, kBodyTarget, monitor);
    const int size = typeSize(box);
    if (size * 10 < bodySize * 15 || box.width() > 6 * size)
        return line;
    std::vector<TextLine> readings = {line};
    for (const double target : {20.0, 24.0, 28.0, 36.0, 44.0}) {
        if (stopped())
            return std::nullopt;
        readings.push_back(readLine(m_chinese, m_latin, straight, box, target, monitor));
    }
    const std::vector<QRect> cellBoxes = characterCells(straight, threshold, box);
    std::vector<Votes> cells;
    for (const QRect& cell : cellBoxes) {
        if (stopped())
            return std::nullopt;
        cells.push_back(readCharacter(m_chinese, straight, cell, monitor));
    }
    // A name begins with a surname: its first character is read again choosing only
    // among surnames, which rescues those the model confuses with common characters.
    if (cells.size() >= 2 && cells.size() <= 4) {
        for (const auto& [c, v] : readCharacter(m_chinese, straight, cellBoxes.front(), monitor,
                                                Names::surnameCharacters()))
            cells.front()[c] += v;
    }
    return agreed(readings, cells);
}

std::optional<QList<TextLine>> TesseractReader::readLines(const QImage& image, Progress* progress) {
    auto stopped = [&] { return progress && progress->cancelled(); };
    auto advance = [&](int p) {
        if (progress)
            progress->advance(p);
    };

    // Grey, at most 2400 pixels across: a card filling that has its small type some 60
    // pixels high, more than reading needs.
    QImage gray = grayOf(image);
    double factor = 1.0;
    if (std::max(gray.width(), gray.height()) > 2400) {
        factor = 2400.0 / std::max(gray.width(), gray.height());
        gray = shrunk(gray, factor);
    }
    if (gray.isNull() || gray.width() < 16 || gray.height() < 16)
        return QList<TextLine>();
    // A photographed card is cut out of its surroundings and seen straight on; the lamp's
    // uneven light is evened out around every pixel.
    QPolygonF quad = cornersOf(image);
    for (QPointF& p : quad)
        p *= factor;
    gray = CardFinder::flattened(gray, quad);

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
        std::optional<TextLine> line;
        const int size = typeSize(box);
        // Under half the body's size on a far shot: dust and the dots and strokes of small
        // type the line finder set apart, read as "0 2" or "f e" into the notes at the cost
        // of a line each.
        if (size * 2 < bodySize) {
            advance(15 + 85 * ++index / int(boxes.size()));
            continue;
        }
        // Large short type is the name.
        const bool large = size * 10 >= bodySize * 15 && box.width() <= 6 * size;
        const int gap = int(1.3 * size);
        if (m_model && m_recognizer == Recognizer::Model) {
            QList<double> gaps;
            line = large ? readName(straight, threshold, box)
                         : m_model->read(straight, threshold, box, gap, nullptr, &gaps);
            if (line && !large)
                Readings::respaced(*line, Readings::withGroupBlanks(line->text, gaps));
        } else if (m_model && m_recognizer == Recognizer::Mixed) {
            // Tesseract reads most Chinese well and quickly; the model reads the name (rare
            // characters), the lines with Latin letters or digits and the Chinese lines
            // Tesseract doubts.
            if (!large)
                line = readLine(m_chinese, m_latin, straight, box, kBodyTarget, &monitor);
            if (large) {
                line = readName(straight, threshold, box);
            } else if ((hasLatin(line->text) && !sureLatin(*line)) ||
                       // The firm's name: Tesseract misreads a character of it now and
                       // then and is sure of it (鼎 as 见); the model reads them.
                       Patterns::organisationStrength(line->text) > 0 ||
                       ((line->confidence < kDoubtedBelow ||
                         (line->text.contains(QLatin1Char('\t')) &&
                          int(line->text.count(QLatin1Char('\t'))) + 1 !=
                              itemsOn(straight, threshold, box, gap))) &&
                        std::any_of(line->text.begin(), line->text.end(), isHanCharacter))) {
                // Numbers, mail and Latin words: the model reads the digits and signs of a
                // photo or a far shot far better than Tesseract, which reads most of them
                // there wrong. Chinese lines: Tesseract parts one at a wide character now
                // and then, and misreads a blurred one; its items stand where the ink
                // parts them as widely as the model parts items.
                QList<double> gaps;
                if (std::optional<TextLine> read =
                        m_model->read(straight, threshold, box, gap, nullptr, &gaps)) {
                    // The model loses blanks inside the groups of a number, and places some
                    // beside a narrow "1": they go where the ink leaves its widest gaps.
                    Readings::respaced(*read, Readings::withGroupBlanks(read->text, gaps));
                    // Tesseract places blanks and signs better (from the words it parts):
                    // where both read the same letters and digits or, in Chinese, the same
                    // characters and items, its reading stands, sure, unless only the
                    // model's has its numbers in a printed shape.
                    if ((hasLatin(line->text) ? lettersOf(line->text) == lettersOf(read->text)
                                              : bare(line->text) == bare(read->text) &&
                                                    line->text.count(QLatin1Char('\t')) ==
                                                        read->text.count(QLatin1Char('\t'))) &&
                        (Readings::fitsNumbers(line->text) || !Readings::fitsNumbers(read->text))) {
                        line->confidence = std::max(line->confidence, read->confidence);
                        line->unsure.clear();
                    } else {
                        // The model drops a mail's "@" on a far shot that Tesseract reads.
                        const QString mended = Readings::withMailSign(read->text, line->text);
                        if (mended.size() > read->text.size()) {
                            const int sign = int(mended.indexOf(QLatin1Char('@')));
                            for (int& u : read->unsure)
                                u += u >= sign;
                        }
                        read->text = mended;
                        line = read;
                    }
                }
            }
        }
        // The model failing to run leaves the line to Tesseract.
        if (!line)
            line = readWithTesseract(straight, threshold, box, bodySize, &monitor, progress);
        if (!line)
            return std::nullopt;
        if (stopped())
            return std::nullopt;
        // A lone character is a logo or a speck: no line of a card is one character.
        if (line->text.size() > 1)
            lines << *line;
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
