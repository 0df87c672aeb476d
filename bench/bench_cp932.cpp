// Encode and decode throughput of our code page 932 converter against glibc's
// iconv on the same mixed Japanese/ASCII text, measured in one run.
#include "platform/udp/cp932.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <iconv.h>
#include <vector>

namespace {

constexpr int kRuns = 9;

// A few hundred KB of chat-like text: kanji, hiragana, katakana (full and half
// width), ASCII words, digits and punctuation.
QString sampleText()
{
    static const char16_t* const sentences[] = {
        u"今日は晴れ。明日、３時に会いましょう！",
        u"Meeting at 10:30, room 4B. 資料は共有フォルダにあります。",
        u"ｶﾀｶﾅも使います。テストの結果は 98.5% でした。",
        u"OK, thanks! また後で連絡します。",
        u"東京都千代田区丸の内1-2-3 〒100-0005",
    };
    QString text;
    int i = 0;
    while (text.size() < 200'000)
        text += QString::fromUtf16(sentences[i++ % 5]) + u'\n';
    return text;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Median MB/s of `run`, counting `bytes` of input per run.
double throughput(qsizetype bytes, const std::function<void()>& run)
{
    std::vector<double> rates;
    for (int k = 0; k < kRuns; ++k) {
        QElapsedTimer timer;
        timer.start();
        // Several passes per sample so that one sample lasts a few milliseconds.
        for (int pass = 0; pass < 10; ++pass)
            run();
        const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
        rates.push_back(10.0 * static_cast<double>(bytes) / 1e6 / seconds);
    }
    return median(rates);
}

QByteArray viaIconv(iconv_t cd, const QByteArray& in, qsizetype outSize)
{
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    QByteArray out(outSize, Qt::Uninitialized);
    char* ip = const_cast<char*>(in.constData());
    char* op = out.data();
    auto il = static_cast<size_t>(in.size());
    auto ol = static_cast<size_t>(out.size());
    if (iconv(cd, &ip, &il, &op, &ol) == static_cast<size_t>(-1))
        std::fprintf(stderr, "iconv stopped with %zu bytes left\n", il);
    out.truncate(op - out.constData());
    return out;
}

volatile qsizetype g_sink; // keeps the conversions from being optimised away

} // namespace

int main()
{
    const QString text = sampleText();
    const QByteArray utf16(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    const QByteArray sjis = vesk::cp932::encode(text);

    iconv_t toSjis = iconv_open("CP932", "UTF-16LE");
    iconv_t fromSjis = iconv_open("UTF-16LE", "CP932");
    if (toSjis == reinterpret_cast<iconv_t>(-1) || fromSjis == reinterpret_cast<iconv_t>(-1)) {
        std::fprintf(stderr, "glibc iconv has no CP932\n");
        return 1;
    }
    // Both must produce the same result, or the comparison is meaningless.
    if (viaIconv(toSjis, utf16, utf16.size()) != sjis
        || viaIconv(fromSjis, sjis, sjis.size() * 2) != utf16) {
        std::fprintf(stderr, "iconv and ours disagree on the sample text\n");
        return 1;
    }

    // Rates count the code page 932 bytes, the wire size, for both directions.
    const double encOurs = throughput(sjis.size(), [&] { g_sink = vesk::cp932::encode(text).size(); });
    const double encIconv = throughput(sjis.size(), [&] { g_sink = viaIconv(toSjis, utf16, utf16.size()).size(); });
    const double decOurs = throughput(sjis.size(), [&] { g_sink = vesk::cp932::decode(sjis).size(); });
    const double decIconv = throughput(sjis.size(), [&] { g_sink = viaIconv(fromSjis, sjis, sjis.size() * 2).size(); });
    iconv_close(toSjis);
    iconv_close(fromSjis);

    std::printf("sample: %lld UTF-16 units, %lld bytes in code page 932; median of %d runs, MB/s of cp932 bytes\n",
                static_cast<long long>(text.size()), static_cast<long long>(sjis.size()), kRuns);
    std::printf("%-8s %10s %10s %7s\n", "figure", "ours", "iconv", "ratio");
    std::printf("%-8s %10.1f %10.1f %6.1fx\n", "encode", encOurs, encIconv, encOurs / encIconv);
    std::printf("%-8s %10.1f %10.1f %6.1fx\n", "decode", decOurs, decIconv, decOurs / decIconv);
    std::printf("RESULT | code page 932 encode | %.1f | %.1f | glibc iconv CP932 | MB/s | >=1\n", encOurs, encIconv);
    std::printf("RESULT | code page 932 decode | %.1f | %.1f | glibc iconv CP932 | MB/s | >=1\n", decOurs, decIconv);
    return 0;
}
