// Binary patches: every kind of pair goes from old to new through bytes and through files, and a
// patch that does not fit its old file, is damaged or declares what it does not hold is refused
// with a reason, leaving the output file as it was.

#include "TempDir.h"
#include "patch/ApplyPatch.h"
#include "patch/ControlTuple.h"
#include "patch/PatchHeader.h"
#include "patch/PatchMaker.h"
#include "patch/PatchName.h"
#include "patch/ZeroRuns.h"
#include "patch/ZstdPack.h"
#include "trust/Sha256.h"

#include <QRandomGenerator>
#include <QtEndian>

#include <gtest/gtest.h>

#include <functional>

namespace {

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& c : bytes)
        c = char(random.bounded(256));
    return bytes;
}

// Machine code stand-in: instructions with 32-bit relative jumps to other instructions and
// absolute addresses into a string table. Inserting a few bytes before the middle shifts every
// later address, as a rebuild after a small fix does.
QByteArray codeLike(qsizetype insertAt, QByteArrayView inserted)
{
    QRandomGenerator random(7);
    const int count = 20000;
    QByteArray code;
    std::vector<qsizetype> starts;
    for (int i = 0; i < count; ++i) {
        if (i == insertAt)
            code += inserted;
        starts.push_back(code.size());
        code += QByteArray(1 + random.bounded(6), char(0x48 + random.bounded(4)));
        code += QByteArray(5, '\0');   // opcode and displacement, filled below
    }
    QRandomGenerator targets(11);
    for (int i = 0; i < count; ++i) {
        const qsizetype field = (i + 1 < count ? starts[size_t(i) + 1] : code.size()) - 5;
        const qsizetype target = starts[targets.bounded(count)];
        code[field] = char(0xe8);
        qToLittleEndian(qint32(target - field - 5), code.data() + field + 1);
    }
    return code + QByteArray("the map could not be read\0the thumbnail could not be saved\0", 60);
}

QByteArray withChange(QByteArray bytes, qsizetype at, qsizetype remove, QByteArrayView insert)
{
    return bytes.replace(at, remove, insert.toByteArray());
}

QByteArray makeOrFail(QByteArrayView old, QByteArrayView updated)
{
    Result<QByteArray> patch = makePatch(old, updated);
    EXPECT_TRUE(patch.ok()) << patch.error().toStdString();
    return patch.ok() ? *patch : QByteArray();
}

// A suffix-diff patch written by hand from one control tuple and its streams.
QByteArray handMadeDiff(QByteArrayView old, const ControlTuple& tuple, const QByteArray& diff, const QByteArray& extra)
{
    PatchHeader h;
    h.method = PatchMethod::SuffixDiff;
    h.oldSize = quint64(old.size());
    h.oldHash = Sha256::hash(old);
    h.newSize = quint64(diff.size() + extra.size());
    h.newHash = QByteArray(32, 'x');
    QByteArray control, runs, words;
    appendControl(control, tuple);
    splitZeroRuns(diff, runs, words);
    QByteArray frames;
    const QByteArray parts[] = {control, runs, words, extra};
    for (int i = 0; i < PatchHeader::StreamCount; ++i) {
        const QByteArray frame = *zstdPack(parts[i], 3);
        h.streams[size_t(i)] = {quint64(frame.size()), quint64(parts[i].size())};
        frames += frame;
    }
    return h.encode() + frames;
}

QByteArray flipInStream(QByteArray patch, int stream)
{
    const Result<PatchHeader> h = PatchHeader::parse(patch);
    qsizetype at = h->encodedSize();
    for (int i = 0; i < stream; ++i)
        at += qsizetype(h->streams[size_t(i)].packed);
    patch[at + qsizetype(h->streams[size_t(stream)].packed) / 2] ^= 0x10;
    return patch;
}

QByteArray setU64(QByteArray patch, qsizetype at, quint64 value)
{
    qToLittleEndian(value, patch.data() + at);
    return patch;
}

}  // namespace

TEST(Patch, RoundTripsEveryKindOfPair)
{
    const QByteArray base = randomBytes(200000, 1);
    const QByteArray code = codeLike(-1, {});
    const struct {
        const char* name;
        QByteArray old, updated;
        double maxRatio;   // patch size at most this share of the new file (plus the head)
    } cases[] = {
        {"identical", base, base, 0.01},
        {"both empty", {}, {}, 0},
        {"empty old", {}, randomBytes(5000, 2), 1.01},
        {"empty new", base, {}, 0},
        {"insert", base, withChange(base, 1000, 0, "seventeen bytes!!"), 0.01},
        {"delete", base, withChange(base, 50000, 300, {}), 0.01},
        {"shift and replace", base, withChange(withChange(base, 10, 0, "ab"), 150000, 4000, randomBytes(100, 3)), 0.02},
        {"unrelated", randomBytes(30000, 4), randomBytes(40000, 5), 1.01},
        {"rebuilt code", code, codeLike(9000, "\x90\x90\x90\x90\x90\x90\x90"), 0.08},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray patch = makeOrFail(c.old, c.updated);
        EXPECT_LE(patch.size(), PatchHeader::FixedSize + PatchHeader::StreamTableSize + 40 + c.updated.size() * c.maxRatio);
        const Result<QByteArray> made = applyPatch(c.old, patch);
        ASSERT_TRUE(made.ok()) << made.error().toStdString();
        EXPECT_TRUE(*made == c.updated);

        const QString output = dir.filePath("made");
        const Status applied = applyPatchFile(dir.write("old", c.old), dir.write("patch", patch), output);
        ASSERT_TRUE(applied.ok()) << applied.error().toStdString();
        EXPECT_TRUE(dir.read("made") == c.updated);
    }
    EXPECT_EQ(patchFileName(Sha256::hash("a"), Sha256::hash("b")),
              "patches/" + Sha256::hash("a").toHex() + "-" + Sha256::hash("b").toHex() + ".patch");
}

TEST(Patch, RefusesWhatDoesNotFitOrIsDamaged)
{
    const QByteArray old = codeLike(-1, {});
    const QByteArray updated = codeLike(9000, "\x90\x90\x90");
    const QByteArray diff = makeOrFail(old, updated);
    ASSERT_EQ(diff[8], char(PatchMethod::SuffixDiff));
    const QByteArray moved = old.mid(40000) + old.left(40000);
    const QByteArray prefix = makeOrFail(old, moved);
    ASSERT_EQ(prefix[8], char(PatchMethod::ZstdPrefix));
    // A frame that decodes to far more than the 100 bytes its head declares.
    PatchHeader bomb{PatchMethod::ZstdPrefix, quint64(old.size()), Sha256::hash(old), 100, QByteArray(32, 'x'), {}};
    const QByteArray bombPatch = bomb.encode() + *zstdPack(QByteArray(1 << 20, '\0'), 3);

    const struct {
        const char* name;
        QByteArray old, patch;
        const char* reason;   // words of the reason; "" when any reason will do
    } cases[] = {
        {"other old file", withChange(old, 5, 1, "?"), diff, "SHA-256"},
        {"old file of another size", old + "x", diff, "bytes"},
        {"wrong magic", old, withChange(diff, 0, 1, "J"), "magic"},
        {"unknown method", old, withChange(diff, 8, 1, "\x07"), "method"},
        {"cut in the head", old, diff.left(50), "truncated"},
        {"cut in the stream table", old, diff.left(PatchHeader::FixedSize + 10), "truncated"},
        {"cut in the last stream", old, diff.chopped(1), "past the end"},
        {"cut prefix frame", old, prefix.chopped(1), ""},
        {"flipped control", old, flipInStream(diff, PatchHeader::Control), ""},
        {"flipped zero runs", old, flipInStream(diff, PatchHeader::ZeroRuns), ""},
        {"flipped words", old, flipInStream(diff, PatchHeader::Words), ""},
        {"flipped extra", old, flipInStream(diff, PatchHeader::Extra), ""},
        {"flipped prefix frame", old, withChange(prefix, prefix.size() / 2, 1, "\x5a"), ""},
        {"huge new size", old, setU64(prefix, 49, quint64(1) << 50), "larger"},
        {"new size beyond the frame", old, setU64(prefix, 49, quint64(1) << 39), "ends before"},
        {"huge word stream", old, setU64(diff, PatchHeader::FixedSize + 40, quint64(1) << 39), "larger than the diff"},
        {"huge extra stream", old, setU64(diff, PatchHeader::FixedSize + 56, quint64(1) << 39), "larger than the new"},
        {"huge control stream", old, setU64(diff, PatchHeader::FixedSize + 8, quint64(1) << 39), "control stream"},
        {"decompression bomb", old, bombPatch, "more than"},
        {"seek outside old", old, handMadeDiff(old, {4, 0, qint64(old.size())}, "abcd", {}), "outside the old file"},
        {"match past old", old, handMadeDiff(old, {quint64(old.size()) + 1, 0, 0}, QByteArray(old.size() + 1, 0), {}), "past the old"},
        {"extra past new", old, handMadeDiff(old, {0, 5, 0}, {}, "abcd"), "past the new"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Result<QByteArray> made = applyPatch(c.old, c.patch);
        ASSERT_FALSE(made.ok());
        EXPECT_TRUE(made.error().contains(QLatin1StringView(c.reason))) << made.error().toStdString();

        dir.write("made", "kept");
        const Status applied = applyPatchFile(dir.write("old", c.old), dir.write("patch", c.patch), dir.filePath("made"));
        EXPECT_EQ(applied.error(), made.error());
        EXPECT_EQ(dir.read("made"), "kept");
    }
}
