// Time of one transcript insertion (the line put on top, the caret moved, the
// window brought up to date) with 100, 10,000 and 80,000 lines already shown (about all the transcript keeps).
// The reference is the same figure at 100 lines: a long transcript should cost
// about as much per line as a short one. Then lines of the largest datagram,
// beside what Qt's own layout of one such line costs, and select all and copy
// of a transcript filled to its cap.
#include "app/Appearance.h"
#include "platform/forms/Placement.h"
#include "conversation/MessageRules.h"
#include "conversation/TranscriptBox.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRuns = 5;          // fresh transcripts per size
constexpr int kInsertions = 100;  // timed insertions per transcript

// A received chat line of about 100 characters, Japanese and ASCII mixed, as the
// window would show it.
QString chatLine(int i)
{
    QString text = QStringLiteral("%1 今日の会議は 3 時からです。資料は共有フォルダにあります。").arg(i, 6, 10, QChar(u'0'));
    while (text.size() < 100)
        text += QStringLiteral(" ok");
    return vesk::transcriptLine(vesk::kPartnerLabel, text);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The transcript paints at most once a frame: a line that comes sooner after
// the last paint waits for the next frame. Each timed line comes after a frame,
// as a message does, so that its figure holds its paint. The wait spins: a
// processor left idle comes back slower, and the figure with it.
void waitOutTheFrame()
{
    const auto until = Clock::now() + std::chrono::nanoseconds(vesk::TranscriptBox::FrameNs);
    while (Clock::now() < until) {
    }
}

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "bench_transcript: %s\n", what);
    std::exit(1);
}

vesk::TranscriptBox* newBox()
{
    // The size the conversation window gives its transcript.
    auto* box = new vesk::TranscriptBox;
    box->resize(vesk::twips(3735), vesk::twips(2415));
    box->show();
    QApplication::processEvents();
    return box;
}

// Drops the top line without timing it, so every timed insertion finds the
// same number of lines.
void dropTopLine(vesk::TranscriptBox* box)
{
    QTextDocument* doc = box->document();
    doc->setUndoRedoEnabled(false);
    QTextCursor c(doc->firstBlock());
    c.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
    c.removeSelectedText();
    doc->setUndoRedoEnabled(true);
}

// Median microseconds of one insertion into a transcript holding `lines` lines.
double insertionMicros(int lines)
{
    std::vector<double> perRun;
    for (int run = 0; run < kRuns; ++run) {
        vesk::TranscriptBox* box = newBox();
        box->beginBatch();
        for (int i = 0; i < lines; ++i)
            box->insertLine(chatLine(i));
        box->endBatch();
        QApplication::processEvents();
        if (box->document()->blockCount() != lines + 1)
            fail("the filled transcript does not hold the lines put in");

        std::vector<double> times;
        times.reserve(kInsertions);
        for (int k = 0; k < kInsertions; ++k) {
            const QString line = chatLine(lines + k);
            waitOutTheFrame();
            const auto start = Clock::now();
            box->insertLine(line);
            QApplication::processEvents(); // layout and paint, as the event loop would
            times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
            if (box->document()->firstBlock().text() + QStringLiteral("\r\n") != line)
                fail("an inserted line is not on top");
            dropTopLine(box);
            QApplication::processEvents();
        }
        perRun.push_back(median(times));
        delete box;
    }
    return median(perRun);
}

// A burst grouped into one edit must show exactly what inserting the lines one
// by one shows: the same text and the caret in the same place.
void checkBatchMatchesSingleInsertions()
{
    vesk::TranscriptBox* single = newBox();
    vesk::TranscriptBox* batched = newBox();
    single->insertLine(chatLine(-1));
    batched->insertLine(chatLine(-1));
    batched->beginBatch();
    for (int i = 0; i < 500; ++i) {
        single->insertLine(chatLine(i));
        batched->insertLine(chatLine(i));
    }
    batched->endBatch();
    if (single->windowsText() != batched->windowsText())
        fail("a batch shows other text than single insertions");
    if (single->caretPosition() != batched->caretPosition())
        fail("a batch leaves the caret elsewhere than single insertions");
    delete single;
    delete batched;
}

// The most characters the largest datagram carries: 65,507 bytes of
// single-byte characters, half-width katakana and ASCII.
QString longText(int seed)
{
    QString text;
    text.reserve(65507);
    unsigned x = 2166136261u + unsigned(seed);
    while (text.size() < 65507) {
        x = x * 1103515245u + 12345u;
        const unsigned r = (x >> 16) % 10;
        text += QChar(char16_t(r < 4 ? u'!' + (x >> 8) % 94 : u'ｦ' + (x >> 8) % 56));
    }
    return text;
}

double micros(Clock::time_point since)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - since).count();
}

// What Qt's own layout of such a line costs, once, with the transcript's font.
double qtLayoutMicros(const QFont& font)
{
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        QTextLayout layout(longText(i), font);
        QTextOption option;
        option.setWrapMode(QTextOption::NoWrap);
        layout.setTextOption(option);
        const auto start = Clock::now();
        layout.beginLayout();
        layout.createLine().setLineWidth(1e7);
        layout.endLayout();
        times.push_back(micros(start));
    }
    return median(times);
}

// Lines of the largest datagram: one put in on top of others like it (layout
// and paint as the event loop would), a repaint of a view full of them, and a
// scroll far along them.
void longLines()
{
    vesk::TranscriptBox* box = newBox();
    for (int i = 0; i < 12; ++i)
        box->insertLine(vesk::transcriptLine(vesk::kPartnerLabel, longText(i)));
    QApplication::processEvents();
    std::vector<double> insert, repaint;
    for (int k = 0; k < 20; ++k) {
        const QString line = vesk::transcriptLine(vesk::kPartnerLabel, longText(100 + k));
        waitOutTheFrame();
        auto start = Clock::now();
        box->insertLine(line);
        QApplication::processEvents();
        insert.push_back(micros(start));
        start = Clock::now();
        box->viewport()->repaint();
        repaint.push_back(micros(start));
    }
    // Lines in view: the ones a scroll along them must find its place in.
    const int inView = int(box->viewport()->height() / QFontMetricsF(box->document()->defaultFont()).height()) + 1;
    auto start = Clock::now();
    box->horizontalScrollBar()->setValue(300'000);
    box->viewport()->repaint();
    const double farScroll = micros(start);
    const double qt = qtLayoutMicros(box->document()->defaultFont());
    delete box;
    std::printf("65,507-character lines: insertion %.0f us, repaint %.0f us, first scroll to 300,000 px %.0f us "
                "(%d lines in view); Qt's layout of one such line %.0f us\n",
                median(insert), median(repaint), farScroll, inView, qt);
    std::printf("RESULT | insertion of a 65,507-character line, with layout and paint | %.1f | %.1f | Qt's layout of that one line | us | <=0.2\n",
                median(insert), qt);
    std::printf("RESULT | repaint of a view of 65,507-character lines | %.1f | %.1f | Qt's layout of one such line | us | <=0.1\n",
                median(repaint), qt);
    std::printf("RESULT | first scroll 300,000 px along a view of them, with paint | %.1f | %.1f | Qt's layout of the lines in view | us | <=1.5\n",
                farScroll, qt * inView);
}

// The first click into a line of the largest datagram, halfway across the view,
// until the caret is drawn there: Qt lays that one line out, nothing else.
void firstClick()
{
    vesk::TranscriptBox* box = newBox();
    for (int i = 0; i < 12; ++i)
        box->insertLine(vesk::transcriptLine(vesk::kPartnerLabel, longText(200 + i)));
    QApplication::processEvents();
    std::vector<double> times;
    for (int line = 2; line < 7; ++line) {
        const QTextBlock block = box->document()->findBlockByNumber(line);
        const QPointF at(box->viewport()->width() / 2.0,
                         box->cursorRect(QTextCursor(block)).center().y());
        const auto start = Clock::now();
        QMouseEvent press(QEvent::MouseButtonPress, at, box->viewport()->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(box->viewport(), &press);
        QMouseEvent release(QEvent::MouseButtonRelease, at, box->viewport()->mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(box->viewport(), &release);
        box->viewport()->repaint();
        times.push_back(micros(start));
        if (box->textCursor().block() != block || box->textCursor().positionInBlock() == 0
            || block.layout()->lineCount() == 0)
            fail("the click did not put the caret into the line with Qt's layout of it");
    }
    const double qt = qtLayoutMicros(box->document()->defaultFont());
    delete box;
    std::printf("first click into a 65,507-character line, to the caret drawn: %.0f us; Qt's layout of such a line %.0f us\n",
                median(times), qt);
    std::printf("RESULT | first click into a 65,507-character line, to the caret drawn | %.1f | %.1f | Qt's layout of that one line | us | <=1.5\n",
                median(times), qt);
}

// Select all and copy in a transcript filled to its cap.
void copyAll()
{
    vesk::TranscriptBox* box = newBox();
    box->beginBatch();
    for (int i = 0; i < 300; ++i)
        box->insertLine(vesk::transcriptLine(vesk::kPartnerLabel, longText(i)));
    box->endBatch();
    QApplication::processEvents();
    const auto start = Clock::now();
    box->selectAll();
    box->copy();
    const qsizetype copied = QGuiApplication::clipboard()->text().size();
    const double ms = micros(start) / 1000;
    if (copied < box->capacity() * 9 / 10)
        fail("the copy does not hold the full transcript");
    std::printf("select all and copy of %lld characters: %.0f ms\n", qlonglong(copied), ms);
    std::printf("RESULT | select all and copy of a full transcript (ten million units) | %.1f | 1000 | a second | ms | <=1\n", ms);
    delete box;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    vesk::applyAppearance(app);

    checkBatchMatchesSingleInsertions();

    const int sizes[] = {100, 10'000, 80'000};
    double us[3];
    for (int i = 0; i < 3; ++i) {
        us[i] = insertionMicros(sizes[i]);
        std::printf("transcript insertion with %7d lines shown: %8.1f us (median of %d x %d)\n", sizes[i],
                    us[i], kRuns, kInsertions);
    }
    std::printf("RESULT | transcript insertion at 100 lines | %.1f | - | - | us | -\n", us[0]);
    std::printf("RESULT | transcript insertion at 10,000 lines | %.1f | %.1f | ours at 100 lines | us | -\n",
                us[1], us[0]);
    std::printf("RESULT | transcript insertion at 80,000 lines (a full transcript) | %.1f | %.1f | ours at 100 lines | us | <=1.5\n",
                us[2], us[0]);
    longLines();
    firstClick();
    copyAll();
    return 0;
}
