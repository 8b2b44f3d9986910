#include "SalesImport.h"

#include "../Factory.h"
#include "Import.h"
#include "PgCall.h"
#include "Schema.h"
#include "SqliteRebuild.h"
#include "Text.h"

#include <QDateTime>
#include <QFile>
#include <array>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <openssl/evp.h>
#include <set>
#include <sqlite3.h>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace cache::server {

namespace {

constexpr qsizetype kChunk = 1 << 20;     // bytes read at a time
constexpr qsizetype kMaxLine = 64 * 1024; // a longer line is refused
constexpr qint64 kProgressStep = 65536;
constexpr qint64 kStageStep = 1024;

// The file's columns, in table order.
enum Col {
    CDatum,
    CFirma,
    CPc,
    CHabt,
    CAbt,
    CHgrp,
    CUgrp,
    CHkgrp,
    CVart,
    CHvart,
    CStyp,
    CUmsatz,
    CKosten,
    CSkonto,
    CNachlass,
    kCols
};
const char* const kColNames[kCols] = {"datum", "firma",  "pcnr",   "habtnr", "abtnr",
                                      "hgrp",  "ugrp",   "hkgrp",  "vart",   "hvart",
                                      "styp",  "umsatz", "kosten", "skonto", "nachlass"};
constexpr bool isRequired(int c) {
    return c != CSkonto && c != CNachlass;
}
// Dimension (Schema's bit order) of a code column, -1 for the others.
constexpr int dimOf(int c) {
    switch (c) {
    case CPc:
        return 0;
    case CHabt:
        return 1;
    case CAbt:
        return 2;
    case CHgrp:
        return 3;
    case CUgrp:
        return 4;
    case CHkgrp:
        return 5;
    case CHvart:
        return 6;
    case CVart:
        return 7;
    case CStyp:
        return 8;
    default:
        return -1;
    }
}

using Codes = std::array<std::string_view, kDimCount>;

struct Line {
    int datum = 0;
    int periode = 0;
    qint64 firma = 0;
    Codes codes;       // by dimension
    qint64 money[4]{}; // umsatz, kosten, skonto, nachlass
};

class Sha256 {
public:
    Sha256() : ctx_(EVP_MD_CTX_new()) { EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr); }
    ~Sha256() { EVP_MD_CTX_free(ctx_); }
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void add(const char* data, size_t n) { EVP_DigestUpdate(ctx_, data, n); }
    QString hex() {
        unsigned char md[EVP_MAX_MD_SIZE];
        unsigned int n = 0;
        EVP_DigestFinal_ex(ctx_, md, &n);
        return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(md), int(n)).toHex());
    }

private:
    EVP_MD_CTX* ctx_;
};

// Physical lines of a device, read in chunks and hashed on the way; memory
// stays at one chunk plus the longest allowed line.
class LineReader {
public:
    LineReader(QIODevice& in, Sha256& sha)
        : in_(in), sha_(sha), buf_(size_t(kChunk + kMaxLine + 16)) {}

    // The next line without its end (LF or CR LF); *tooLong for a line over
    // the limit (its text is then dropped). False at the end of the data.
    bool next(std::string_view* line, bool* tooLong) {
        *tooLong = false;
        for (;;) {
            const char* start = buf_.data() + pos_;
            const auto* nl = static_cast<const char*>(std::memchr(start, '\n', end_ - pos_));
            if (nl) {
                const size_t len = size_t(nl - start);
                pos_ += len + 1;
                *line = cut(start, len);
                return true;
            }
            if (end_ - pos_ > size_t(kMaxLine)) return skipLongLine(line, tooLong);
            if (!fill()) {
                if (pos_ == end_) return false;
                const size_t len = end_ - pos_;
                pos_ = end_;
                *line = cut(buf_.data() + end_ - len, len);
                return true;
            }
        }
    }
    qint64 bytesRead() const { return read_; }
    const QString& error() const { return error_; }

private:
    static std::string_view cut(const char* s, size_t len) {
        if (len && s[len - 1] == '\r') --len;
        return {s, len};
    }
    bool skipLongLine(std::string_view* line, bool* tooLong) {
        *tooLong = true;
        *line = {};
        for (;;) {
            pos_ = end_ = 0;
            if (!fill()) return true;
            if (const auto* nl = static_cast<const char*>(std::memchr(buf_.data(), '\n', end_))) {
                pos_ = size_t(nl - buf_.data()) + 1;
                return true;
            }
        }
    }
    bool fill() {
        if (eof_) return false;
        if (pos_ > 0) {
            std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
            end_ -= pos_;
            pos_ = 0;
        }
        const qint64 n = in_.read(buf_.data() + end_, kChunk);
        if (n <= 0) {
            if (n < 0) error_ = in_.errorString();
            eof_ = true;
            return false;
        }
        sha_.add(buf_.data() + end_, size_t(n));
        end_ += size_t(n);
        read_ += n;
        return true;
    }

    QIODevice& in_;
    Sha256& sha_;
    std::vector<char> buf_;
    size_t pos_ = 0, end_ = 0;
    qint64 read_ = 0;
    bool eof_ = false;
    QString error_;
};

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

// Splits a record as splitCsvLine does: a field is quoted when a quote
// follows nothing but blanks; "" inside quotes is one quote; unquoted
// fields are trimmed. False for an unterminated quote.
bool splitRecord(std::string_view line, char sep, std::vector<std::string_view>* fields,
                 std::string* scratch) {
    fields->clear();
    if (std::memchr(line.data(), '"', line.size()) == nullptr) {
        size_t from = 0;
        for (;;) {
            const auto* s =
                static_cast<const char*>(std::memchr(line.data() + from, sep, line.size() - from));
            const size_t to = s ? size_t(s - line.data()) : line.size();
            fields->push_back(trimmed(line.substr(from, to - from)));
            if (!s) return true;
            from = to + 1;
        }
    }
    // Quoted fields are unescaped into the scratch buffer, which never grows
    // beyond the line, so views into it stay valid.
    scratch->clear();
    scratch->reserve(line.size() + 1);
    size_t curStart = 0;
    bool inQuotes = false, wasQuoted = false;
    auto endField = [&] {
        std::string_view cur(scratch->data() + curStart, scratch->size() - curStart);
        fields->push_back(wasQuoted ? cur : trimmed(cur));
        curStart = scratch->size();
        wasQuoted = false;
    };
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (inQuotes) {
            if (c == '"') {
                if (i + 1 < line.size() && line[i + 1] == '"') {
                    scratch->push_back(c);
                    ++i;
                } else {
                    inQuotes = false;
                }
            } else {
                scratch->push_back(c);
            }
        } else if (c == '"' && !wasQuoted &&
                   trimmed(std::string_view(scratch->data() + curStart, scratch->size() - curStart))
                       .empty()) {
            inQuotes = wasQuoted = true;
            scratch->resize(curStart);
        } else if (c == sep) {
            endField();
        } else {
            scratch->push_back(c);
        }
    }
    if (inQuotes) return false;
    endField();
    return true;
}

// Bytes 0x80..0x9F of Windows-1252 (0: not defined).
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char32_t iso885915(unsigned char b) {
    switch (b) {
    case 0xA4:
        return 0x20AC;
    case 0xA6:
        return 0x0160;
    case 0xA8:
        return 0x0161;
    case 0xB4:
        return 0x017D;
    case 0xB8:
        return 0x017E;
    case 0xBC:
        return 0x0152;
    case 0xBD:
        return 0x0153;
    case 0xBE:
        return 0x0178;
    default:
        return b;
    }
}

void appendUtf8(std::string* out, char32_t c) {
    if (c < 0x80) {
        out->push_back(char(c));
    } else if (c < 0x800) {
        out->push_back(char(0xC0 | (c >> 6)));
        out->push_back(char(0x80 | (c & 0x3F)));
    } else {
        out->push_back(char(0xE0 | (c >> 12)));
        out->push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(char(0x80 | (c & 0x3F)));
    }
}

bool isAscii(std::string_view s) {
    size_t i = 0;
    for (; i + 8 <= s.size(); i += 8) {
        quint64 w;
        std::memcpy(&w, s.data() + i, 8);
        if (w & 0x8080808080808080ULL) return false;
    }
    for (; i < s.size(); ++i)
        if (static_cast<unsigned char>(s[i]) >= 0x80) return false;
    return true;
}

// Offset of the first byte that is not part of well-formed UTF-8, or npos.
size_t invalidUtf8At(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const size_t n = s.size();
    for (size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int len;
        char32_t min, cp;
        if ((c & 0xE0) == 0xC0) {
            len = 2, min = 0x80, cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3, min = 0x800, cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4, min = 0x10000, cp = c & 0x07;
        } else {
            return i;
        }
        if (i + size_t(len) > n) return i;
        for (int k = 1; k < len; ++k) {
            if ((p[i + size_t(k)] & 0xC0) != 0x80) return i;
            cp = (cp << 6) | (p[i + size_t(k)] & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return i;
        i += size_t(len);
    }
    return std::string_view::npos;
}

qsizetype codePoints(std::string_view s) {
    qsizetype n = 0;
    for (char c : s)
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

QString text(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

QString shown(std::string_view v) {
    QString s = text(v).left(40);
    for (QChar& c : s)
        if (c.unicode() < 32) c = QLatin1Char('?');
    return QStringLiteral("„%1“").arg(s);
}

bool digitsOnly(std::string_view s) {
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return !s.empty();
}

int number(std::string_view s) {
    int v = 0;
    for (char c : s)
        v = v * 10 + (c - '0');
    return v;
}

int daysIn(int y, int m) {
    static const int d[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : d[m - 1];
}

// YYYY-MM-DD or D.M.YYYY (day and month with one or two digits).
bool parseDate(std::string_view t, int* y, int* m, int* d) {
    std::string_view ys, ms, ds;
    if (t.size() == 10 && t[4] == '-' && t[7] == '-') {
        ys = t.substr(0, 4), ms = t.substr(5, 2), ds = t.substr(8, 2);
    } else {
        const size_t a = t.find('.');
        const size_t b = a == std::string_view::npos ? a : t.find('.', a + 1);
        if (b == std::string_view::npos) return false;
        ds = t.substr(0, a), ms = t.substr(a + 1, b - a - 1), ys = t.substr(b + 1);
        if (ds.size() > 2 || ms.size() > 2 || ys.size() != 4) return false;
    }
    if (!digitsOnly(ys) || !digitsOnly(ms) || !digitsOnly(ds)) return false;
    *y = number(ys), *m = number(ms), *d = number(ds);
    return *y >= 1901 && *m >= 1 && *m <= 12 && *d >= 1 && *d <= daysIn(*y, *m);
}

// Euros with "." (or a single "," and no ".") as decimal point, at most two
// decimals, as textToCents reads them.
bool parseMoney(std::string_view raw, qint64* cents) {
    std::string_view t = trimmed(raw);
    if (t.empty() || t.size() > 20) return false;
    char buf[24];
    std::memcpy(buf, t.data(), t.size());
    const size_t n = t.size();
    size_t commas = 0, dots = 0, comma = 0;
    for (size_t i = 0; i < n; ++i) {
        if (buf[i] == ',')
            ++commas, comma = i;
        else if (buf[i] == '.')
            ++dots;
    }
    if (commas == 1 && dots == 0) buf[comma] = '.';
    size_t i = 0;
    bool neg = false;
    if (buf[0] == '-' || buf[0] == '+') {
        neg = buf[0] == '-';
        i = 1;
    }
    qint64 whole = 0;
    int digits = 0;
    for (; i < n && buf[i] >= '0' && buf[i] <= '9'; ++i, ++digits) {
        whole = whole * 10 + (buf[i] - '0');
        if (whole > 90'000'000'000'000'000LL / 100) return false;
    }
    qint64 frac = 0;
    int fracDigits = 0;
    if (i < n && buf[i] == '.') {
        ++i;
        for (; i < n && buf[i] >= '0' && buf[i] <= '9'; ++i, ++fracDigits) {
            if (fracDigits >= 2) return false;
            frac = frac * 10 + (buf[i] - '0');
        }
        if (fracDigits == 1) frac *= 10;
    }
    if (i != n || (digits == 0 && fracDigits == 0)) return false;
    const qint64 v = whole * 100 + frac;
    *cents = neg ? -v : v;
    return true;
}

// A null QString binds as SQL NULL; the batch's columns are NOT NULL.
QString notNull(const QString& s) {
    return s.isNull() ? QStringLiteral("") : s;
}

QString now() {
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// --- Where the lines go -------------------------------------------------------

class Sink {
public:
    virtual ~Sink() = default;
    virtual void line(const Line& l, qint64 dimid) = 0;
    virtual void dim(qint64 id, qint64 firma, const Codes& codes) = 0;
    // Every line given; the lines are in the table afterwards.
    virtual void finish() = 0;
    // A bad line: stop writing (the transaction is rolled back).
    virtual void abandon() = 0;
};

// Hands the lines to the inner sink on a writer thread, so that reading and
// checking the file overlap with the database's work. At most kDepth
// batches are in flight; the database connection is used by the writer
// alone until finish() or abandon() returns.
class ThreadedSink final : public Sink {
public:
    explicit ThreadedSink(std::unique_ptr<Sink> inner) : inner_(std::move(inner)) {
        for (int i = 0; i < kDepth; ++i)
            free_.push_back(std::make_unique<Batch>());
        cur_ = std::move(free_.back());
        free_.pop_back();
        thread_ = std::thread([this] { work(); });
    }
    ~ThreadedSink() override { stop(true); }
    void line(const Line& l, qint64 dimid) override {
        cur_->add(l, dimid, false);
        if (cur_->recs.size() >= kBatch) handOver();
    }
    void dim(qint64 id, qint64 firma, const Codes& codes) override {
        Line l;
        l.firma = firma;
        l.codes = codes;
        cur_->add(l, id, true);
    }
    void finish() override {
        handOver();
        stop(false);
        inner_->finish();
    }
    void abandon() override {
        stop(true);
        inner_->abandon();
    }

private:
    static constexpr int kDepth = 4;
    static constexpr size_t kBatch = 8192;
    struct Batch {
        struct Rec {
            Line line; // codes point nowhere; see off/len
            std::array<quint32, kDimCount> off;
            qint64 id;
            bool dim;
        };
        std::vector<Rec> recs;
        std::string arena;
        void add(const Line& l, qint64 id, bool dim) {
            Rec& r = recs.emplace_back();
            r.line = l;
            r.id = id;
            r.dim = dim;
            for (int i = 0; i < kDimCount; ++i) {
                r.off[size_t(i)] = quint32(arena.size());
                arena.append(l.codes[size_t(i)]);
            }
        }
        void resolve(Rec& r) const {
            for (int i = 0; i < kDimCount; ++i)
                r.line.codes[size_t(i)] = std::string_view(arena.data() + r.off[size_t(i)],
                                                           r.line.codes[size_t(i)].size());
        }
    };
    void handOver() {
        std::unique_lock lock(m_);
        if (error_) std::rethrow_exception(error_);
        if (cur_->recs.empty()) return;
        queue_.push_back(std::move(cur_));
        cv_.notify_all();
        cv_.wait(lock, [&] { return !free_.empty() || error_; });
        if (error_) std::rethrow_exception(error_);
        cur_ = std::move(free_.back());
        free_.pop_back();
    }
    // Ends the writer; discard drops what is still queued. Rethrows the
    // writer's error unless discarding.
    void stop(bool discard) {
        {
            std::lock_guard lock(m_);
            if (discard) queue_.clear();
            done_ = true;
        }
        cv_.notify_all();
        if (thread_.joinable()) thread_.join();
        if (error_ && !discard) std::rethrow_exception(error_);
    }
    void work() {
        for (;;) {
            std::unique_ptr<Batch> b;
            {
                std::unique_lock lock(m_);
                cv_.wait(lock, [&] { return !queue_.empty() || done_; });
                if (queue_.empty()) return;
                b = std::move(queue_.front());
                queue_.pop_front();
            }
            try {
                for (Batch::Rec& r : b->recs) {
                    b->resolve(r);
                    if (r.dim)
                        inner_->dim(r.id, r.line.firma, r.line.codes);
                    else
                        inner_->line(r.line, r.id);
                }
            } catch (...) {
                std::lock_guard lock(m_);
                error_ = std::current_exception();
                queue_.clear();
                cv_.notify_all();
                return;
            }
            b->recs.clear();
            b->arena.clear();
            std::lock_guard lock(m_);
            free_.push_back(std::move(b));
            cv_.notify_all();
        }
    }

    std::unique_ptr<Sink> inner_;
    std::unique_ptr<Batch> cur_;
    std::vector<std::unique_ptr<Batch>> free_;
    std::deque<std::unique_ptr<Batch>> queue_;
    std::mutex m_;
    std::condition_variable cv_;
    std::exception_ptr error_;
    bool done_ = false;
    std::thread thread_;
};

class SqliteSink final : public Sink {
public:
    SqliteSink(sqlite3* h, qint64 batch) : h_(h) {
        prepare(&line_, "INSERT INTO sales_line (datum, periode, firma, pcnr, habtnr, abtnr, hgrp, "
                        "ugrp, hkgrp, hvart, vart, styp, umsatz, kosten, skonto, nachlass, dimid, "
                        "batch) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
        prepare(&dim_, "INSERT INTO sales_dim (dimid, firma, pcnr, habtnr, abtnr, hgrp, ugrp, "
                       "hkgrp, hvart, vart, styp) VALUES (?,?,?,?,?,?,?,?,?,?,?)");
        sqlite3_bind_int64(line_, 18, batch);
    }
    ~SqliteSink() override {
        sqlite3_finalize(line_);
        sqlite3_finalize(dim_);
    }
    void line(const Line& l, qint64 dimid) override {
        sqlite3_bind_int(line_, 1, l.datum);
        sqlite3_bind_int(line_, 2, l.periode);
        sqlite3_bind_int64(line_, 3, l.firma);
        for (int i = 0; i < kDimCount; ++i)
            sqlite3_bind_text(line_, 4 + i, l.codes[size_t(i)].data(),
                              int(l.codes[size_t(i)].size()), SQLITE_STATIC);
        for (int i = 0; i < 4; ++i)
            sqlite3_bind_int64(line_, 13 + i, l.money[i]);
        sqlite3_bind_int64(line_, 17, dimid);
        step(line_);
    }
    void dim(qint64 id, qint64 firma, const Codes& codes) override {
        sqlite3_bind_int64(dim_, 1, id);
        sqlite3_bind_int64(dim_, 2, firma);
        for (int i = 0; i < kDimCount; ++i)
            sqlite3_bind_text(dim_, 3 + i, codes[size_t(i)].data(), int(codes[size_t(i)].size()),
                              SQLITE_TRANSIENT);
        step(dim_);
    }
    void finish() override {}
    void abandon() override {}

private:
    void prepare(sqlite3_stmt** s, const char* sql) {
        if (sqlite3_prepare_v2(h_, sql, -1, s, nullptr) != SQLITE_OK) fail();
    }
    void step(sqlite3_stmt* s) {
        const int rc = sqlite3_step(s);
        sqlite3_reset(s);
        if (rc != SQLITE_DONE) fail();
    }
    [[noreturn]] void fail() {
        throw CacheError(
            err::Sql, QStringLiteral("SQL-Fehler: %1").arg(QString::fromUtf8(sqlite3_errmsg(h_))));
    }
    sqlite3* h_;
    sqlite3_stmt* line_ = nullptr;
    sqlite3_stmt* dim_ = nullptr;
};

// COPY ... FROM STDIN in text format: the server parses while this process
// reads the next lines.
class PgSink final : public Sink {
public:
    PgSink(PGconn* c, qint64 batch) : c_(c) {
        batch_.push_back('\t');
        PgCopy::appendInt(&batch_, batch);
        batch_.push_back('\n');
        copy_ = std::make_unique<PgCopy>(
            c_, "COPY sales_line (datum, periode, firma, pcnr, habtnr, abtnr, hgrp, ugrp, hkgrp, "
                "hvart, vart, styp, umsatz, kosten, skonto, nachlass, dimid, batch) FROM STDIN");
    }
    void line(const Line& l, qint64 dimid) override {
        std::string& buf = copy_->buffer();
        PgCopy::appendInt(&buf, l.datum);
        buf.push_back('\t');
        PgCopy::appendInt(&buf, l.periode);
        buf.push_back('\t');
        PgCopy::appendInt(&buf, l.firma);
        for (const std::string_view& c : l.codes) {
            buf.push_back('\t');
            PgCopy::appendText(&buf, c);
        }
        for (qint64 m : l.money) {
            buf.push_back('\t');
            PgCopy::appendInt(&buf, m);
        }
        buf.push_back('\t');
        PgCopy::appendInt(&buf, dimid);
        buf += batch_;
        copy_->maybeFlush();
    }
    void dim(qint64 id, qint64 firma, const Codes& codes) override {
        // The COPY holds the connection; the new dimensions follow it.
        PgCopy::appendInt(&dims_, id);
        dims_.push_back('\t');
        PgCopy::appendInt(&dims_, firma);
        for (const std::string_view& c : codes) {
            dims_.push_back('\t');
            PgCopy::appendText(&dims_, c);
        }
        dims_.push_back('\n');
    }
    void finish() override {
        copy_->finish();
        copy_.reset();
        if (!dims_.empty()) {
            PgCopy dims(c_, "COPY sales_dim (dimid, firma, pcnr, habtnr, abtnr, hgrp, ugrp, "
                            "hkgrp, hvart, vart, styp) FROM STDIN");
            std::swap(dims.buffer(), dims_);
            dims.finish();
        }
    }
    // Ends a running COPY with an error; the transaction is rolled back.
    void abandon() override { copy_.reset(); }

private:
    PGconn* c_;
    std::unique_ptr<PgCopy> copy_;
    std::string dims_, batch_;
};

// --- Master data ----------------------------------------------------------------

std::string key2(qint64 firma, std::string_view a) {
    std::string k = std::to_string(firma);
    k.push_back('\x1f');
    k.append(a);
    return k;
}
std::string key3(qint64 firma, std::string_view a, std::string_view b) {
    std::string k = key2(firma, a);
    k.push_back('\x1f');
    k.append(b);
    return k;
}

class MasterData {
public:
    explicit MasterData(Database& db) {
        auto load = [&](const char* sql, auto&& each) {
            QSqlQuery& q = db.exec(QString::fromLatin1(sql));
            while (q.next())
                each(q);
            q.finish();
        };
        auto s = [](const QSqlQuery& q, int i) { return q.value(i).toString().toStdString(); };
        load("SELECT firma FROM firma",
             [&](QSqlQuery& q) { firms_.insert(q.value(0).toLongLong()); });
        load("SELECT firma, pcnr FROM profitcenter",
             [&](QSqlQuery& q) { pc_.insert(key2(q.value(0).toLongLong(), s(q, 1))); });
        load("SELECT firma, habtnr FROM hauptabteilung",
             [&](QSqlQuery& q) { habt_.insert(key2(q.value(0).toLongLong(), s(q, 1))); });
        load("SELECT firma, abtnr, habtnr FROM abteilung",
             [&](QSqlQuery& q) { abt_.emplace(key2(q.value(0).toLongLong(), s(q, 1)), s(q, 2)); });
        load("SELECT firma, hgrp FROM hauptgruppe",
             [&](QSqlQuery& q) { hgrp_.insert(key2(q.value(0).toLongLong(), s(q, 1))); });
        load("SELECT firma, hgrp, ugrp FROM untergruppe",
             [&](QSqlQuery& q) { ugrp_.insert(key3(q.value(0).toLongLong(), s(q, 1), s(q, 2))); });
        load("SELECT firma, vart FROM versandart",
             [&](QSqlQuery& q) { vart_.insert(key2(q.value(0).toLongLong(), s(q, 1))); });
    }

    // Empty when the codes fit the master data, else the first mismatch.
    QString check(qint64 firma, const Codes& c) const {
        if (!firms_.count(firma))
            return QStringLiteral("Firma %1 fehlt in den Stammdaten").arg(firma);
        auto missing = [&](const char* what, std::string_view code) {
            return QStringLiteral("%1 %2 fehlt in den Stammdaten (Firma %3)")
                .arg(QLatin1String(what), shown(code))
                .arg(firma);
        };
        if (!pc_.count(key2(firma, c[0]))) return missing("Profitcenter", c[0]);
        if (!habt_.count(key2(firma, c[1]))) return missing("Hauptabteilung", c[1]);
        const auto a = abt_.find(key2(firma, c[2]));
        if (a == abt_.end()) return missing("Abteilung", c[2]);
        if (a->second != c[1])
            return QStringLiteral("Abteilung %1 gehört laut Stammdaten zur Hauptabteilung %2, "
                                  "nicht zu %3 (Firma %4)")
                .arg(shown(c[2]), shown(a->second), shown(c[1]))
                .arg(firma);
        if (!hgrp_.count(key2(firma, c[3]))) return missing("Hauptgruppe", c[3]);
        if (!ugrp_.count(key3(firma, c[3], c[4])))
            return QStringLiteral(
                       "Untergruppe %1 fehlt in den Stammdaten der Hauptgruppe %2 (Firma %3)")
                .arg(shown(c[4]), shown(c[3]))
                .arg(firma);
        if (!vart_.count(key2(firma, c[7]))) return missing("Versandart", c[7]);
        return {};
    }

private:
    std::set<qint64> firms_;
    std::unordered_set<std::string> pc_, habt_, hgrp_, ugrp_, vart_;
    std::unordered_map<std::string, std::string> abt_;
};

// --- Dimension ids ----------------------------------------------------------------

struct DimEntry {
    qint64 id = -1;   // -1: not in sales_dim yet
    int problem = -2; // -2 not checked, -1 fits, else index into problems
};

// The dimension id of every code combination met, by the combination's
// text. Open addressing over a power-of-two table: one lookup per line.
class Dims {
public:
    explicit Dims(Database& db) {
        slots_.resize(1024);
        QSqlQuery& q = db.exec(QStringLiteral("SELECT dimid, firma, pcnr, habtnr, abtnr, hgrp, "
                                              "ugrp, hkgrp, hvart, vart, styp FROM sales_dim"));
        std::array<std::string, kDimCount> text;
        Codes c;
        while (q.next()) {
            for (int i = 0; i < kDimCount; ++i) {
                text[size_t(i)] = q.value(2 + i).toString().toStdString();
                c[size_t(i)] = text[size_t(i)];
            }
            const qint64 id = q.value(0).toLongLong();
            find(q.value(1).toLongLong(), c).id = id;
            next_ = std::max(next_, id + 1);
        }
        q.finish();
    }
    DimEntry& find(qint64 firma, const Codes& c) {
        key_.clear();
        PgCopy::appendInt(&key_, firma);
        for (const std::string_view& s : c) {
            key_.push_back('\x1f');
            key_.append(s);
        }
        const quint64 h = hash(key_);
        size_t i = size_t(h) & (slots_.size() - 1);
        for (;; i = (i + 1) & (slots_.size() - 1)) {
            Slot& s = slots_[i];
            if (s.len == 0) break;
            if (s.hash == h && s.len == key_.size() &&
                std::memcmp(keys_.data() + s.offset, key_.data(), key_.size()) == 0)
                return s.entry;
        }
        if ((used_ + 1) * 2 > slots_.size()) {
            grow();
            return find(firma, c);
        }
        Slot& s = slots_[i];
        s.hash = h;
        s.offset = keys_.size();
        s.len = key_.size();
        keys_ += key_;
        ++used_;
        return s.entry;
    }
    qint64 allocate() { return next_++; }

private:
    struct Slot {
        quint64 hash = 0;
        size_t offset = 0;
        size_t len = 0; // 0: empty (a key is never empty)
        DimEntry entry;
    };
    static quint64 hash(std::string_view k) {
        quint64 h = 0x9E3779B97F4A7C15ULL ^ k.size();
        size_t i = 0;
        for (; i + 8 <= k.size(); i += 8) {
            quint64 w;
            std::memcpy(&w, k.data() + i, 8);
            h = (h ^ w) * 0xBF58476D1CE4E5B9ULL;
            h ^= h >> 31;
        }
        quint64 w = 0;
        std::memcpy(&w, k.data() + i, k.size() - i);
        h = (h ^ w) * 0x94D049BB133111EBULL;
        return h ^ (h >> 29);
    }
    void grow() {
        std::vector<Slot> old(slots_.size() * 2);
        old.swap(slots_);
        for (const Slot& s : old) {
            if (s.len == 0) continue;
            size_t i = size_t(s.hash) & (slots_.size() - 1);
            while (slots_[i].len != 0)
                i = (i + 1) & (slots_.size() - 1);
            slots_[i] = s;
        }
    }
    std::vector<Slot> slots_;
    std::string keys_, key_;
    size_t used_ = 0;
    qint64 next_ = 0;
};

struct Header {
    char sep = ';';
    int fieldCount = 0;
    std::array<int, kCols> pos; // field index of each column, -1 when absent
};

// --- One run ----------------------------------------------------------------------

class Run {
public:
    Run(Store& store, QIODevice& in, const SalesImportOptions& o)
        : store_(store), db_(store.db()), in_(in), o_(o) {}

    SalesImportResult go();

private:
    void error(qint64 lineNo, const QString& why) {
        ++badLines_;
        if (r_.errors.size() >= kMaxImportErrors) {
            r_.moreErrors = true;
            return;
        }
        r_.errors << QStringLiteral("Zeile %1: %2").arg(lineNo).arg(why);
        if (sink_ && !abandoned_) {
            sink_->abandon();
            abandoned_ = true;
        }
    }
    bool readHeader(LineReader& reader, qint64* lineNo);
    bool decode(std::string_view raw, qint64 lineNo, std::string_view* line);
    bool parse(const std::vector<std::string_view>& f, qint64 lineNo, Line* l);
    void record(const Line& l);
    std::optional<EarlierBatch> earlierBatch(const QString& sha);
    bool sameSizeBatchExists(qint64 size);
    void rebuild();
    void stage(const char* s) {
        if (o_.stage) o_.stage(s);
    }

    Store& store_;
    Database& db_;
    QIODevice& in_;
    const SalesImportOptions& o_;
    SalesImportResult r_;
    Header h_;
    std::unique_ptr<Sink> sink_;
    bool abandoned_ = false;
    qint64 badLines_ = 0;
    std::string converted_, scratch_;
    std::vector<std::string_view> fields_;
    // What the file holds.
    std::set<std::pair<qint64, int>> periods_;
    std::pair<qint64, int> lastPeriod_{-1, -1};
};

bool Run::decode(std::string_view raw, qint64 lineNo, std::string_view* line) {
    *line = raw;
    if (isAscii(raw)) return true;
    if (o_.encoding == SourceEncoding::Utf8) {
        const size_t at = invalidUtf8At(raw);
        if (at == std::string_view::npos) return true;
        error(lineNo, QStringLiteral("Ungültiges UTF-8 an Stelle %1 (Byte 0x%2); eine Datei in "
                                     "Windows-1252 oder ISO-8859-15 braucht --encoding")
                          .arg(at + 1)
                          .arg(static_cast<unsigned char>(raw[at]), 2, 16, QLatin1Char('0')));
        return false;
    }
    converted_.clear();
    for (size_t i = 0; i < raw.size(); ++i) {
        const auto b = static_cast<unsigned char>(raw[i]);
        char32_t c = b;
        if (o_.encoding == SourceEncoding::Windows1252) {
            if (b >= 0x80 && b < 0xA0) {
                c = kCp1252High[b - 0x80];
                if (c == 0) {
                    error(lineNo, QStringLiteral("Byte 0x%1 an Stelle %2 ist in Windows-1252 "
                                                 "nicht belegt")
                                      .arg(b, 2, 16, QLatin1Char('0'))
                                      .arg(i + 1));
                    return false;
                }
            }
        } else {
            c = iso885915(b);
        }
        appendUtf8(&converted_, c);
    }
    *line = converted_;
    return true;
}

bool Run::readHeader(LineReader& reader, qint64* lineNo) {
    std::string_view raw;
    bool tooLong = false;
    if (!reader.next(&raw, &tooLong)) {
        error(1, QStringLiteral("Kopfzeile fehlt"));
        return false;
    }
    *lineNo = 1;
    if (tooLong) {
        error(1, QStringLiteral("Zeile länger als %1 Bytes").arg(kMaxLine));
        return false;
    }
    if (o_.encoding == SourceEncoding::Utf8 && raw.substr(0, 3) == "\xEF\xBB\xBF")
        raw.remove_prefix(3);
    std::string_view line;
    if (!decode(raw, 1, &line)) return false;
    if (trimmed(line).empty()) {
        error(1, QStringLiteral("Kopfzeile fehlt"));
        return false;
    }
    h_.sep = line.find(';') != std::string_view::npos ? ';' : ',';
    splitRecord(line, h_.sep, &fields_, &scratch_);
    h_.fieldCount = int(fields_.size());
    h_.pos.fill(-1);
    QSet<QString> seen;
    for (int i = 0; i < h_.fieldCount; ++i) {
        const QString name = text(fields_[size_t(i)]).trimmed().toLower();
        if (seen.contains(name))
            error(1, QStringLiteral("Spalte %1 kommt doppelt vor").arg(shown(name.toStdString())));
        seen.insert(name);
        int col = -1;
        for (int c = 0; c < kCols; ++c)
            if (name == QLatin1String(kColNames[c])) col = c;
        if (col < 0)
            error(1, QStringLiteral("Unbekannte Spalte %1").arg(shown(name.toStdString())));
        else
            h_.pos[size_t(col)] = i;
    }
    for (int c = 0; c < kCols; ++c)
        if (isRequired(c) && h_.pos[size_t(c)] < 0)
            error(1, QStringLiteral("Pflichtspalte %1 fehlt").arg(shown(kColNames[c])));
    return r_.errors.isEmpty();
}

bool Run::parse(const std::vector<std::string_view>& f, qint64 lineNo, Line* l) {
    static const std::string_view kAllowedHkgrp[] = {"P", "G"}, kAllowedHvart[] = {"L", "S"},
                                  kAllowedStyp[] = {"L", "B", "W"};
    for (int c = 0; c < kCols; ++c) {
        const int at = h_.pos[size_t(c)];
        const std::string_view v = at >= 0 ? f[size_t(at)] : std::string_view();
        const QLatin1String col(kColNames[c]);
        for (char ch : v)
            if (static_cast<unsigned char>(ch) < 32) {
                error(lineNo, QStringLiteral("Steuerzeichen in Spalte %1").arg(col));
                return false;
            }
        if (v.size() > 200 && codePoints(v) > 200) {
            error(lineNo, QStringLiteral("Text in Spalte %1 ist länger als 200 Zeichen").arg(col));
            return false;
        }
        switch (c) {
        case CDatum: {
            int y, m, d;
            if (!parseDate(v, &y, &m, &d)) {
                error(lineNo, QStringLiteral("Ungültiges Datum %1").arg(shown(v)));
                return false;
            }
            l->datum = y * 10000 + m * 100 + d;
            l->periode = (y - 1900) * 100 + m;
            continue;
        }
        case CFirma: {
            const std::string_view t = trimmed(v);
            if (t.size() > 15 || !digitsOnly(t)) {
                error(lineNo, QStringLiteral("Ungültige Firma %1").arg(shown(v)));
                return false;
            }
            qint64 firma = 0;
            for (char ch : t)
                firma = firma * 10 + (ch - '0');
            l->firma = firma;
            continue;
        }
        case CUmsatz:
        case CKosten:
        case CSkonto:
        case CNachlass: {
            qint64& cents = l->money[c - CUmsatz];
            if (v.empty() && !isRequired(c)) {
                cents = 0;
                continue;
            }
            if (!parseMoney(v, &cents)) {
                error(lineNo,
                      QStringLiteral("Ungültiger Betrag %1 in Spalte %2").arg(shown(v), col));
                return false;
            }
            continue;
        }
        default:
            break;
        }
        const std::string_view* allowed = nullptr;
        size_t count = 0;
        if (c == CHkgrp)
            allowed = kAllowedHkgrp, count = 2;
        else if (c == CHvart)
            allowed = kAllowedHvart, count = 2;
        else if (c == CStyp)
            allowed = kAllowedStyp, count = 3;
        if (allowed) {
            bool ok = false;
            for (size_t i = 0; i < count; ++i)
                ok |= v == allowed[i];
            if (!ok) {
                QStringList names;
                for (size_t i = 0; i < count; ++i)
                    names << text(allowed[i]);
                error(lineNo, QStringLiteral("Wert %1 in Spalte %2 nicht erlaubt (%3)")
                                  .arg(shown(v), col, names.join(QLatin1Char('/'))));
                return false;
            }
        }
        if (v.empty()) {
            error(lineNo, QStringLiteral("Spalte %1 ist leer").arg(col));
            return false;
        }
        l->codes[size_t(dimOf(c))] = v;
    }
    return true;
}

void Run::record(const Line& l) {
    const std::pair<qint64, int> p{l.firma, l.periode};
    if (p != lastPeriod_) {
        periods_.insert(p);
        lastPeriod_ = p;
    }
}

std::optional<EarlierBatch> Run::earlierBatch(const QString& sha) {
    QSqlQuery& q = db_.exec(QStringLiteral("SELECT batch, imported_at, file_name FROM import_batch "
                                           "WHERE sha256 = ? AND removed_at = '' AND batch <> ? "
                                           "ORDER BY batch"),
                            {sha, r_.batch});
    std::optional<EarlierBatch> e;
    if (q.next())
        e = EarlierBatch{q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString()};
    q.finish();
    return e;
}

bool Run::sameSizeBatchExists(qint64 size) {
    return db_.scalar(QStringLiteral("SELECT COUNT(*) FROM import_batch WHERE size_bytes = ? AND "
                                     "removed_at = '' AND batch <> ?"),
                      {size, r_.batch})
               .toLongLong() > 0;
}

void Run::rebuild() {
    QMap<qint64, QList<int>> byFirm;
    for (const auto& [firma, p] : periods_)
        byFirm[firma] << p;
    const int total = int(periods_.size());
    int done = 0;
    for (auto it = byFirm.cbegin(); it != byFirm.cend(); ++it) {
        const int before = done;
        store_.rebuildPeriods(it.key(), it.value(), [&](const GenerateProgress& g) {
            done = before + g.done;
            if (o_.rebuildProgress) o_.rebuildProgress(done, total);
            return true;
        });
    }
    store_.setBuildInfo(r_.lastPeriod);
}

SalesImportResult Run::go() {
    const bool pg = db_.engine() == Engine::Postgres;
    const qint64 total = in_.isSequential() ? -1 : in_.size();
    if (!pg) {
        // Pages read through a memory map count as the process's memory;
        // the import keeps to its page cache instead.
        db_.execDirect(QStringLiteral("PRAGMA mmap_size=0"));
        bool ok = false;
        const int kib = qEnvironmentVariableIntValue("TALLVERO_IMPORT_CACHE_KB", &ok);
        if (ok && kib > 0) db_.execDirect(QStringLiteral("PRAGMA cache_size=-%1").arg(kib));
    }
    db_.beginWrite();
    try {
        // One import at a time: the batch number is taken under a lock that
        // the next importer waits for (SQLite: the write lock of this row).
        if (pg) {
            pgExec(pgHandle(db_), "SET LOCAL statement_timeout = 0");
            db_.execDirect(QStringLiteral("LOCK TABLE import_batch IN SHARE ROW EXCLUSIVE MODE"));
        }
        r_.batch =
            db_.scalar(QStringLiteral("SELECT COALESCE(MAX(batch), 0) + 1 FROM import_batch"))
                .toLongLong();
        QStringList opts;
        if (o_.force) opts << QStringLiteral("--force");
        if (o_.replacePeriods) opts << QStringLiteral("--replace-periods");
        if (!o_.generate) opts << QStringLiteral("--no-generate");
        if (o_.allowUnknown) opts << QStringLiteral("--allow-unknown");
        if (o_.encoding == SourceEncoding::Windows1252)
            opts << QStringLiteral("--encoding windows-1252");
        if (o_.encoding == SourceEncoding::Iso885915)
            opts << QStringLiteral("--encoding iso-8859-15");
        const QString dbUser =
            pg ? db_.scalar(QStringLiteral("SELECT current_user")).toString() : QString();
        db_.exec(QStringLiteral("INSERT INTO import_batch (batch, file_name, sha256, size_bytes, "
                                "imported_at, line_count, companies, first_period, last_period, "
                                "os_user, db_user, options, replaced_lines) VALUES (?, ?, '', ?, "
                                "?, 0, '', 0, 0, ?, ?, ?, 0)"),
                 {r_.batch, notNull(o_.fileName), total, now(), notNull(o_.osUser), notNull(dbUser),
                  notNull(opts.join(QLatin1Char(' ')))})
            .finish();

        // The same size as an earlier batch: hash first, so that a file
        // imported before is refused before any work.
        if (!o_.force && total >= 0 && sameSizeBatchExists(total)) {
            Sha256 pre;
            std::vector<char> b(static_cast<size_t>(kChunk));
            qint64 n;
            while ((n = in_.read(b.data(), kChunk)) > 0)
                pre.add(b.data(), size_t(n));
            if (auto e = earlierBatch(pre.hex())) {
                db_.rollback();
                r_.duplicate = e;
                return r_;
            }
            in_.seek(0);
        }

        MasterData master(db_);
        Dims dims(db_);
        QList<QString> problems;
        std::unique_ptr<Sink> direct;
        if (pg)
            direct = std::make_unique<PgSink>(pgHandle(db_), r_.batch);
        else
            direct = std::make_unique<SqliteSink>(sqliteHandle(db_), r_.batch);
        sink_ = std::make_unique<ThreadedSink>(std::move(direct));

        Sha256 sha;
        LineReader reader(in_, sha);
        qint64 lineNo = 0;
        if (readHeader(reader, &lineNo)) {
            std::string_view raw, line;
            bool tooLong = false;
            Line l;
            while (reader.next(&raw, &tooLong)) {
                ++lineNo;
                if (r_.moreErrors) break; // the list is full; more reading tells nothing new
                if (tooLong) {
                    error(lineNo, QStringLiteral("Zeile länger als %1 Bytes").arg(kMaxLine));
                    continue;
                }
                if (!decode(raw, lineNo, &line)) continue;
                if (trimmed(line).empty()) continue;
                if (!splitRecord(line, h_.sep, &fields_, &scratch_)) {
                    error(lineNo, QStringLiteral("Anführungszeichen nicht geschlossen"));
                    continue;
                }
                if (int(fields_.size()) != h_.fieldCount) {
                    error(lineNo, QStringLiteral("%1 Felder statt %2")
                                      .arg(fields_.size())
                                      .arg(h_.fieldCount));
                    continue;
                }
                if (!parse(fields_, lineNo, &l)) continue;
                DimEntry& d = dims.find(l.firma, l.codes);
                if (d.problem == -2) {
                    const QString why = master.check(l.firma, l.codes);
                    d.problem = why.isEmpty() ? -1 : int(problems.size());
                    if (!why.isEmpty()) problems << why;
                }
                if (d.problem >= 0) {
                    if (!o_.allowUnknown) {
                        error(lineNo, problems[d.problem]);
                        continue;
                    }
                    if (r_.warnings.size() < kMaxImportErrors)
                        r_.warnings
                            << QStringLiteral("Zeile %1: %2").arg(lineNo).arg(problems[d.problem]);
                    ++r_.warningLines;
                }
                if (badLines_ > 0) continue;
                if (d.id < 0) {
                    d.id = dims.allocate();
                    sink_->dim(d.id, l.firma, l.codes);
                }
                sink_->line(l, d.id);
                record(l);
                ++r_.lines;
                if (r_.lines % kStageStep == 0) {
                    stage("lines");
                    if (o_.progress && r_.lines % kProgressStep == 0)
                        o_.progress(reader.bytesRead(), total, r_.lines);
                }
            }
        }
        if (!reader.error().isEmpty())
            r_.errors
                << QStringLiteral("Die Datei kann nicht gelesen werden: %1").arg(reader.error());
        if (o_.progress) o_.progress(reader.bytesRead(), total, r_.lines);
        r_.sha256 = sha.hex();
        if (!r_.errors.isEmpty() || r_.lines == 0) {
            sink_.reset();
            db_.rollback();
            r_.lines = 0;
            return r_;
        }
        sink_->finish();
        sink_.reset();
        if (!o_.force) {
            if (auto e = earlierBatch(r_.sha256)) {
                db_.rollback();
                r_.duplicate = e;
                r_.lines = 0;
                return r_;
            }
        }

        std::set<qint64> firms;
        for (const auto& [firma, p] : periods_) {
            firms.insert(firma);
            r_.periods << qMakePair(firma, p);
            r_.firstPeriod = r_.firstPeriod == 0 ? p : std::min(r_.firstPeriod, p);
            r_.lastPeriod = std::max(r_.lastPeriod, p);
        }
        r_.companies = QList<qint64>(firms.begin(), firms.end());
        if (o_.replacePeriods)
            for (const auto& [firma, p] : periods_) {
                QSqlQuery& q = db_.exec(QStringLiteral("DELETE FROM sales_line WHERE firma = ? AND "
                                                       "periode = ? AND batch <> ?"),
                                        {firma, p, r_.batch});
                r_.replacedLines += q.numRowsAffected();
                q.finish();
            }
        QStringList companies;
        for (qint64 f : r_.companies)
            companies << QString::number(f);
        db_.exec(QStringLiteral(
                     "UPDATE import_batch SET sha256 = ?, line_count = ?, companies = ?, "
                     "first_period = ?, last_period = ?, replaced_lines = ? WHERE batch = ?"),
                 {r_.sha256, r_.lines, companies.join(QLatin1Char(',')), r_.firstPeriod,
                  r_.lastPeriod, r_.replacedLines, r_.batch})
            .finish();
        if (o_.generate) {
            stage("generate");
            rebuild();
            r_.generated = true;
        }
        stage("commit");
        db_.commit();
        // The log held the whole transaction; give the space back.
        if (!pg) {
            try {
                db_.execDirect(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
            } catch (const CacheError&) {
                // A reader still needs the log; the next checkpoint empties it.
            }
        }
    } catch (...) {
        sink_.reset();
        db_.rollback();
        store_.resetCaches();
        throw;
    }
    store_.resetCaches();
    return r_;
}

} // namespace

bool encodingFromName(const QString& name, SourceEncoding* e) {
    const QString n = name.trimmed().toLower();
    if (n == QLatin1String("utf-8") || n == QLatin1String("utf8"))
        *e = SourceEncoding::Utf8;
    else if (n == QLatin1String("windows-1252") || n == QLatin1String("cp1252"))
        *e = SourceEncoding::Windows1252;
    else if (n == QLatin1String("iso-8859-15") || n == QLatin1String("latin-9") ||
             n == QLatin1String("latin9"))
        *e = SourceEncoding::Iso885915;
    else
        return false;
    return true;
}

SalesImportResult importSales(Store& store, QIODevice& in, const SalesImportOptions& options) {
    Run run(store, in, options);
    try {
        return run.go();
    } catch (const CacheError& e) {
        SalesImportResult r;
        r.errors << QStringLiteral("Datenbankfehler, nichts importiert: %1").arg(e.description());
        return r;
    }
}

SalesImportResult importSalesFile(Store& store, const QString& path,
                                  const SalesImportOptions& options) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        SalesImportResult r;
        r.errors
            << QStringLiteral("Datei %1 kann nicht gelesen werden: %2").arg(path, f.errorString());
        return r;
    }
    return importSales(store, f, options);
}

QString duplicateMessage(const QString& fileName, const EarlierBatch& e) {
    const QDateTime at = QDateTime::fromString(e.importedAt, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    const QString when =
        at.isValid() ? at.toString(QStringLiteral("dd.MM.yyyy 'um' HH:mm")) : e.importedAt;
    QString from;
    if (e.fileName != fileName) from = QStringLiteral(" (Datei „%1“)").arg(e.fileName);
    return QStringLiteral("Der Inhalt von „%1“ wurde bereits am %2 als Stapel %3%4 importiert; "
                          "nichts geändert. Mit --force wird er trotzdem importiert.")
        .arg(fileName, when)
        .arg(e.batch)
        .arg(from);
}

} // namespace cache::server
