#include "ui/PathParser.h"

#include <charconv>
#include <cmath>

namespace tav::ui {
namespace {

bool isSeparator(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ',';
}

bool startsNumber(char c) {
    return (c >= '0' && c <= '9') || c == '.' || c == '+' || c == '-';
}

int operandCount(char command) {
    switch (command) {
    case 'M':
    case 'L':
        return 2;
    case 'H':
    case 'V':
        return 1;
    case 'Q':
        return 4;
    default:
        return 0;
    }
}

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    void skipSeparators() {
        while (pos_ < text_.size() && isSeparator(text_[pos_]))
            ++pos_;
    }
    bool atEnd() const { return pos_ >= text_.size(); }
    char peek() const { return text_[pos_]; }
    void advance() { ++pos_; }

    // A decimal number with optional sign, fraction and exponent; nothing if none stands here.
    std::optional<float> number() {
        skipSeparators();
        if (atEnd() || !startsNumber(peek()))
            return std::nullopt;
        const char* first = text_.data() + pos_;
        const char* last = text_.data() + text_.size();
        bool negative = false;
        if (*first == '+' || *first == '-') {
            negative = *first == '-';
            ++first;
        }
        // Only digits or a point may follow the sign: from_chars would also take "inf" and "nan".
        if (first == last || !((*first >= '0' && *first <= '9') || *first == '.'))
            return std::nullopt;
        double value = 0.0;
        const auto result = std::from_chars(first, last, value, std::chars_format::general);
        // Beyond the float range a coordinate would become infinite.
        const auto converted = static_cast<float>(negative ? -value : value);
        if (result.ec != std::errc() || !std::isfinite(converted))
            return std::nullopt;
        pos_ = static_cast<size_t>(result.ptr - text_.data());
        return converted;
    }

private:
    std::string_view text_;
    size_t pos_ = 0;
};

class ShapeBuilder {
public:
    void moveTo(Point p) {
        endFigure();
        shape_.figures.push_back(PathFigure{p, {}, false});
        open_ = true;
        current_ = p;
    }
    void lineTo(Point p) {
        ensureFigure();
        shape_.figures.back().segments.push_back(PathSegment{PathSegment::kLine, p, p});
        current_ = p;
    }
    void quadraticTo(Point control, Point p) {
        ensureFigure();
        shape_.figures.back().segments.push_back(PathSegment{PathSegment::kQuadratic, control, p});
        current_ = p;
    }
    // The closing line returns to the figure's start, which becomes the current point.
    void close() {
        if (!open_)
            return;
        shape_.figures.back().closed = true;
        current_ = shape_.figures.back().start;
        open_ = false;
    }
    Point current() const { return current_; }
    PathShape finish() {
        endFigure();
        return std::move(shape_);
    }

private:
    void endFigure() { open_ = false; }
    // A drawing command with no open figure starts one at the current point.
    void ensureFigure() {
        if (!open_)
            moveTo(current_);
    }

    PathShape shape_;
    Point current_;
    bool open_ = false;
};

bool apply(ShapeBuilder& builder, char command, const float* v) {
    const Point current = builder.current();
    switch (command) {
    case 'M':
        builder.moveTo({v[0], v[1]});
        return true;
    case 'L':
        builder.lineTo({v[0], v[1]});
        return true;
    case 'H':
        builder.lineTo({v[0], current.y});
        return true;
    case 'V':
        builder.lineTo({current.x, v[0]});
        return true;
    case 'Q':
        builder.quadraticTo({v[0], v[1]}, {v[2], v[3]});
        return true;
    default:
        return false;
    }
}

} // namespace

std::optional<PathShape> PathParser::parse(std::string_view text) {
    Reader reader(text);
    ShapeBuilder builder;
    char command = 0; // none yet, or 'Z' after a close: no number may follow either
    for (reader.skipSeparators(); !reader.atEnd(); reader.skipSeparators()) {
        const char c = reader.peek();
        if (c == 'Z' || c == 'z') {
            reader.advance();
            builder.close();
            command = 'Z';
            continue;
        }
        if (!startsNumber(c)) {
            if (operandCount(c) == 0)
                return std::nullopt; // relative and unknown commands
            reader.advance();
            command = c;
        } else if (command == 0 || command == 'Z') {
            return std::nullopt;
        }
        float values[4] = {};
        for (int i = 0; i < operandCount(command); ++i) {
            const auto value = reader.number();
            if (!value)
                return std::nullopt;
            values[i] = *value;
        }
        apply(builder, command, values);
        if (command == 'M')
            command = 'L';
    }
    return builder.finish();
}

} // namespace tav::ui
