// The card on a photo: its corners, the view straight onto it, and its lighting evened out.
#include "recognize/cardfinder.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <vector>

namespace Recognize::CardFinder {

namespace {

// A view of a QImage's pixels; the image must outlive it.
cv::Mat viewOf(const QImage& image) {
    const int type = image.format() == QImage::Format_Grayscale8 ? CV_8UC1 : CV_8UC3;
    return cv::Mat(image.height(), image.width(), type, const_cast<uchar*>(image.constBits()),
                   size_t(image.bytesPerLine()));
}

QImage imageOf(const cv::Mat& gray) {
    QImage out(gray.cols, gray.rows, QImage::Format_Grayscale8);
    for (int y = 0; y < gray.rows; ++y)
        std::copy_n(gray.ptr<uchar>(y), gray.cols, out.scanLine(y));
    return out;
}

QImage grayOf(const QImage& image) {
    if (image.format() == QImage::Format_Grayscale8)
        return image;
    QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    cv::Mat gray;
    cv::cvtColor(viewOf(rgb), gray, cv::COLOR_RGB2GRAY);
    return imageOf(gray);
}

double length(const cv::Point2f& a, const cv::Point2f& b) {
    return std::hypot(double(a.x - b.x), double(a.y - b.y));
}

// Top left, top right, bottom right, bottom left.
std::vector<cv::Point2f> ordered(std::vector<cv::Point2f> p) {
    std::vector<cv::Point2f> out(4);
    auto sum = [](const cv::Point2f& q) { return q.x + q.y; };
    auto diff = [](const cv::Point2f& q) { return q.x - q.y; };
    out[0] =
        *std::min_element(p.begin(), p.end(), [&](auto& a, auto& b) { return sum(a) < sum(b); });
    out[2] =
        *std::max_element(p.begin(), p.end(), [&](auto& a, auto& b) { return sum(a) < sum(b); });
    out[1] =
        *std::max_element(p.begin(), p.end(), [&](auto& a, auto& b) { return diff(a) < diff(b); });
    out[3] =
        *std::min_element(p.begin(), p.end(), [&](auto& a, auto& b) { return diff(a) < diff(b); });
    return out;
}

// The four corners of an outline that is nearly a quadrilateral, when it has the shape of a
// card (90 × 54 mm, give or take the keystone of a photo).
std::vector<cv::Point2f> cardQuad(const std::vector<cv::Point>& outline, double pictureArea) {
    std::vector<cv::Point> hull;
    cv::convexHull(outline, hull);
    const double area = cv::contourArea(hull);
    if (area < 0.12 * pictureArea || area > 0.97 * pictureArea)
        return {};
    const double perimeter = cv::arcLength(hull, true);
    for (double e = 0.01; e <= 0.06; e += 0.01) {
        std::vector<cv::Point> quad;
        cv::approxPolyDP(hull, quad, e * perimeter, true);
        if (quad.size() > 4)
            continue;
        if (quad.size() < 4 || !cv::isContourConvex(quad))
            return {};
        std::vector<cv::Point2f> corners(quad.begin(), quad.end());
        corners = ordered(corners);
        const double across = (length(corners[0], corners[1]) + length(corners[3], corners[2])) / 2;
        const double down = (length(corners[0], corners[3]) + length(corners[1], corners[2])) / 2;
        const double ratio = std::max(across, down) / std::max(1.0, std::min(across, down));
        // The quadrilateral must fill most of its outline: a corner cut off is no card.
        if (ratio < 1.3 || ratio > 2.1 || cv::contourArea(quad) < 0.85 * area)
            return {};
        return corners;
    }
    return {};
}

std::vector<cv::Point2f> largestCard(const cv::Mat& mask, double pictureArea) {
    std::vector<std::vector<cv::Point>> outlines;
    cv::findContours(mask, outlines, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
    std::vector<cv::Point2f> best;
    double bestArea = 0;
    for (const auto& outline : outlines) {
        const std::vector<cv::Point2f> quad = cardQuad(outline, pictureArea);
        if (quad.empty())
            continue;
        const double area = cv::contourArea(quad);
        if (area > bestArea) {
            bestArea = area;
            best = quad;
        }
    }
    return best;
}

} // namespace

QPolygonF corners(const QImage& image) {
    if (image.isNull() || image.width() < 32 || image.height() < 32)
        return {};
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    const double scale = std::min(1.0, 800.0 / std::max(image.width(), image.height()));
    cv::Mat small;
    cv::resize(viewOf(rgb), small, cv::Size(), scale, scale, cv::INTER_AREA);
    cv::GaussianBlur(small, small, cv::Size(5, 5), 0);
    const double area = double(small.cols) * small.rows;

    // The edges of the card in any of the colours: a dark band meets a dark desk in hue.
    std::vector<cv::Mat> channels;
    cv::split(small, channels);
    cv::Mat edges = cv::Mat::zeros(small.size(), CV_8UC1);
    for (const cv::Mat& c : channels) {
        cv::Mat e;
        cv::Canny(c, e, 25, 75);
        edges |= e;
    }
    cv::dilate(edges, edges, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3)));
    std::vector<cv::Point2f> quad = largestCard(edges, area);
    if (quad.empty()) {
        // The paper brighter than the desk.
        cv::Mat gray, bright;
        cv::cvtColor(small, gray, cv::COLOR_RGB2GRAY);
        cv::threshold(gray, bright, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
        cv::morphologyEx(bright, bright, cv::MORPH_CLOSE,
                         cv::getStructuringElement(cv::MORPH_RECT, cv::Size(9, 9)));
        quad = largestCard(bright, area);
    }
    // A card-shaped picture whose quadrilateral reaches two opposite edges is a scan of the
    // card: what was found is a panel on it (the white below a band).
    const double pictureRatio =
        double(std::max(small.cols, small.rows)) / std::max(1, std::min(small.cols, small.rows));
    if (!quad.empty() && pictureRatio > 1.3 && pictureRatio < 2.1) {
        const double nearX = small.cols * 0.03, nearY = small.rows * 0.03;
        bool left = false, right = false, top = false, bottom = false;
        for (const cv::Point2f& p : quad) {
            left = left || p.x < nearX;
            right = right || p.x > small.cols - nearX;
            top = top || p.y < nearY;
            bottom = bottom || p.y > small.rows - nearY;
        }
        if ((left && right) || (top && bottom))
            return {};
    }
    QPolygonF out;
    for (const cv::Point2f& p : quad)
        out << QPointF(p.x / scale, p.y / scale);
    return out;
}

QImage evenedLight(const QImage& grayImage) {
    const QImage gray = grayOf(grayImage);
    if (gray.isNull() || gray.width() < 16 || gray.height() < 16)
        return gray;
    const cv::Mat g = viewOf(gray);
    // The background at about 300 pixels across: text is gone from it at that size.
    const double scale = std::min(1.0, 300.0 / std::max(g.cols, g.rows));
    cv::Mat small;
    cv::resize(g, small, cv::Size(), scale, scale, cv::INTER_AREA);
    const int k = 2 * std::max(3, int(std::lround(std::max(small.cols, small.rows) / 40.0))) + 1;
    const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(k, k));
    cv::Mat paper, band;
    cv::morphologyEx(small, paper, cv::MORPH_CLOSE, kernel); // dark type gone
    cv::morphologyEx(small, band, cv::MORPH_OPEN, kernel);   // light type gone
    std::vector<uchar> levels(paper.begin<uchar>(), paper.end<uchar>());
    std::nth_element(levels.begin(), levels.begin() + long(levels.size() * 95 / 100), levels.end());
    const int white = levels[levels.size() * 95 / 100];
    if (white < 60)
        return gray; // a dark picture with nothing light on it
    const int dark = white * 55 / 100;
    // Paper or band. Type covers less than half of any stretch of a card, so the median is
    // the paper or the band it is printed on; but near a band's edge the median follows the
    // paper beside it, and the band's foot came out black in waves. There the band shows
    // when the strokes of type and then light type are gone: only what is wider than type
    // is left, and the edge stays put. That is taken only beside the median's band, where a
    // thick stroke of a large name left over is no band.
    cv::Mat median, wide;
    cv::medianBlur(small, median, std::min(k * 2 + 1, 61) | 1);
    const int stroke =
        2 * std::max(2, int(std::lround(std::max(small.cols, small.rows) / 100.0))) + 1;
    cv::morphologyEx(small, wide, cv::MORPH_CLOSE,
                     cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(stroke, stroke)));
    cv::morphologyEx(wide, wide, cv::MORPH_OPEN, kernel);
    const cv::Mat onBand = median < dark;
    cv::Mat nearBand;
    cv::dilate(onBand, nearBand, kernel);
    const cv::Mat kind = onBand | ((wide < dark) & nearBand);
    cv::Mat paperFull, bandFull, kindFull;
    cv::resize(paper, paperFull, g.size(), 0, 0, cv::INTER_LINEAR);
    cv::resize(band, bandFull, g.size(), 0, 0, cv::INTER_LINEAR);
    cv::resize(kind, kindFull, g.size(), 0, 0, cv::INTER_LINEAR);
    cv::Mat out(g.size(), CV_8UC1);
    for (int y = 0; y < g.rows; ++y) {
        const uchar* v = g.ptr<uchar>(y);
        const uchar* p = paperFull.ptr<uchar>(y);
        const uchar* b = bandFull.ptr<uchar>(y);
        const uchar* m = kindFull.ptr<uchar>(y);
        uchar* o = out.ptr<uchar>(y);
        for (int x = 0; x < g.cols; ++x) {
            double value;
            if (m[x] >= 128) {
                // On a band: how much lighter than the band, turned over.
                const double range = std::max(40, white - b[x]);
                value = 255.0 * (1.0 - std::max(0, v[x] - b[x]) / range);
            } else {
                value = 255.0 * v[x] / std::max(1, int(p[x]));
            }
            o[x] = uchar(std::clamp(int(std::lround(value)), 0, 255));
        }
    }
    return imageOf(out);
}

namespace {

// The corners as OpenCV points, and the size of the rectangle they are drawn flat onto.
std::vector<cv::Point2f> sourceOf(const QPolygonF& quad, double* across, double* down) {
    std::vector<cv::Point2f> src;
    for (const QPointF& p : quad)
        src.emplace_back(float(p.x()), float(p.y()));
    *across = std::max(length(src[0], src[1]), length(src[3], src[2]));
    *down = std::max(length(src[0], src[3]), length(src[1], src[2]));
    return src;
}

std::vector<cv::Point2f> rectangleOf(const cv::Size& size) {
    return {cv::Point2f(0, 0), cv::Point2f(float(size.width), 0),
            cv::Point2f(float(size.width), float(size.height)), cv::Point2f(0, float(size.height))};
}

} // namespace

QImage straightened(const QImage& image, const QPolygonF& quad) {
    if (quad.size() != 4 || image.isNull())
        return QImage();
    double across = 0, down = 0;
    const std::vector<cv::Point2f> src = sourceOf(quad, &across, &down);
    const cv::Size size(std::max(16, int(across)), std::max(16, int(down)));
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    cv::Mat flat;
    cv::warpPerspective(viewOf(rgb), flat, cv::getPerspectiveTransform(src, rectangleOf(size)),
                        size, cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    QImage out(flat.cols, flat.rows, QImage::Format_RGB888);
    for (int y = 0; y < flat.rows; ++y)
        std::copy_n(flat.ptr<uchar>(y), size_t(flat.cols) * 3, out.scanLine(y));
    return out;
}

QImage flattened(const QImage& image, const QPolygonF& quad, int minWidth) {
    const QImage gray = grayOf(image);
    if (quad.size() != 4)
        return evenedLight(gray);
    double across = 0, down = 0;
    const std::vector<cv::Point2f> src = sourceOf(quad, &across, &down);
    // Small cards (a far shot) are drawn larger, the line finder needs some pixels; not
    // much larger, or the photo's blur and noise grow into the gaps between lines.
    const double scale = std::min({std::max(1.0, minWidth / across), 2400.0 / across, 1.6});
    const cv::Size size(std::max(16, int(across * scale)), std::max(16, int(down * scale)));
    cv::Mat flat;
    cv::warpPerspective(viewOf(gray), flat, cv::getPerspectiveTransform(src, rectangleOf(size)),
                        size, cv::INTER_CUBIC, cv::BORDER_REPLICATE);

    return evenedLight(imageOf(flat));
}

} // namespace Recognize::CardFinder
