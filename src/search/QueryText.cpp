// The text toolkit of the visual search: normalisation, terms, Turkish suffixes and the
// constant tables that bridge Turkish, Japanese and German queries to English labels.

#include "VisualSearchService.h"

namespace {

bool isWordCharacter(char32_t c)
{
    return QChar::isLetterOrNumber(c) || QChar::isMark(c);
}

// Turkish letters, lower case, and the ASCII letter each folds to.
char16_t foldTurkish(char32_t c)
{
    switch (c) {
    case U'ı': return u'i';
    case U'ğ': return u'g';
    case U'ü': return u'u';
    case U'ş': return u's';
    case U'ö': return u'o';
    case U'ç': return u'c';
    default: return 0;
    }
}

void appendCodePoint(QString &out, char32_t c)
{
    if (QChar::requiresSurrogates(c)) {
        out.append(QChar(QChar::highSurrogate(c)));
        out.append(QChar(QChar::lowSurrogate(c)));
    } else {
        out.append(QChar(char16_t(c)));
    }
}

// Characters of a term as a reader counts them: combining marks join the letter before.
qsizetype characterCount(QStringView s)
{
    qsizetype n = 0;
    for (qsizetype i = 0; i < s.size(); ++i) {
        char32_t c = s[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < s.size() && s[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(s[i].unicode(), s[i + 1].unicode());
            ++i;
        }
        if (!QChar::isMark(c))
            ++n;
    }
    return n;
}

} // namespace

QString VisualSearchService::normalize(const QString &text)
{
    const qsizetype n = text.size();
    const QChar *s = text.constData();
    QString out;
    out.reserve(n);
    for (qsizetype i = 0; i < n; ++i) {
        char32_t c = s[i].unicode();
        if (c < 0x80) {
            out.append(QChar(char16_t(c >= 'A' && c <= 'Z' ? c + 32 : c)));
            // Turkish lower-casing: "I" becomes dotless (folded to "i" below), and a dot
            // written after it as a combining mark merges into the dotted "i".
            if (c == 'I' && i + 1 < n && s[i + 1].unicode() == 0x0307)
                ++i;
            continue;
        }
        if (QChar::isHighSurrogate(c) && i + 1 < n && s[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(s[i].unicode(), s[i + 1].unicode());
            ++i;
        }
        if (c == U'İ') {
            out.append(u'i');
            continue;
        }
        c = QChar::toLower(c);
        if (const char16_t folded = foldTurkish(c))
            out.append(QChar(folded));
        else
            appendCodePoint(out, c);
    }
    return out;
}

QStringList VisualSearchService::tokens(const QString &text)
{
    const QString normalized = normalize(text);
    const QSet<QString> &stops = stopWords();
    QStringList out;
    const qsizetype n = normalized.size();
    qsizetype start = -1;
    const auto flush = [&](qsizetype end) {
        if (start < 0)
            return;
        const QStringView piece = QStringView(normalized).mid(start, end - start);
        start = -1;
        if (characterCount(piece) < 2)
            return;
        QString term = piece.toString();
        if (!stops.contains(term))
            out.append(std::move(term));
    };
    for (qsizetype i = 0; i < n; ++i) {
        const qsizetype at = i;
        char32_t c = normalized[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < n && normalized[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(normalized[i].unicode(), normalized[i + 1].unicode());
            ++i;
        }
        if (isWordCharacter(c)) {
            if (start < 0)
                start = at;
        } else {
            flush(at);
        }
    }
    flush(n);
    return out;
}

QString VisualSearchService::stripTurkishSuffix(const QString &word)
{
    for (const QString &suffix : turkishSuffixes())
        if (word.size() >= suffix.size() + 3 && word.endsWith(suffix))
            return word.chopped(suffix.size());
    return word;
}

QList<QStringList> VisualSearchService::labelWordGroups(const QString &query, const QStringList &terms)
{
    const QString normalized = normalize(query);
    QStringList stripped;
    stripped.reserve(terms.size());
    for (const QString &term : terms)
        stripped.append(stripTurkishSuffix(term));
    QList<QStringList> groups;
    for (const KeywordLabelGroup &group : keywordLabelTable()) {
        const bool matched = std::any_of(group.keywords.cbegin(), group.keywords.cend(), [&](const QString &kw) {
            // A short keyword inside a longer word is a coincidence ("at" in "water"):
            // it counts only as a whole term or the start of one.
            if (kw.size() >= 4 && normalized.contains(kw))
                return true;
            for (qsizetype i = 0; i < terms.size(); ++i)
                if (terms[i].startsWith(kw) || stripped[i].startsWith(kw))
                    return true;
            return false;
        });
        if (matched)
            groups.append(group.labelWords);
    }
    if (!groups.isEmpty())
        return groups;
    for (qsizetype i = 0; i < terms.size(); ++i)
        if (characterCount(terms[i]) >= 3)
            groups.append({terms[i], stripped[i]});
    return groups;
}

// ---- tables ----

const QSet<QString> &VisualSearchService::stopWords()
{
    static const QSet<QString> words{"ve", "ile", "bir", "bu", "su", "o", "da", "de", "gibi", "olan", "var", "yok",
                                     "icin", "kadar", "cok", "az", "the", "a", "an", "in", "on", "of", "with"};
    return words;
}

const QStringList &VisualSearchService::turkishSuffixes()
{
    static const QStringList suffixes{"larin", "lerin", "larda", "lerde", "lardan", "lerden", "layan", "leyen",
                                      "ayan", "eyen", "iyor", "uyor", "lar", "ler", "nin", "nun",
                                      "dan", "den", "tan", "ten", "da", "de", "ta", "te",
                                      "im", "um", "in", "un", "si", "su"};
    return suffixes;
}

const QList<KeywordLabelGroup> &VisualSearchService::keywordLabelTable()
{
    static const QList<KeywordLabelGroup> table{
        {{"cocuk", "evlat", "ufaklik"}, {"child", "children", "kid", "toddler", "boy", "girl"}},
        {{"bebek"}, {"baby", "infant", "toddler"}},
        {{"oyun", "oyna", "oyuncak"}, {"play", "playing", "playground", "toy", "game", "gaming", "video game"}},
        {{"park", "salincak"}, {"park", "playground", "garden"}},
        {{"deniz", "plaj", "sahil", "kumsal", "okyanus"},
         {"beach", "sea", "seascape", "ocean", "coast", "coastline", "shore", "shoreline", "sand", "water", "wave",
          "bay", "harbor", "marina", "lagoon", "island"}},
        {{"havuz", "yuz"}, {"swimming", "pool", "swim"}},
        {{"gun batimi", "gunes"}, {"sunset", "sunrise", "sun"}},
        {{"gece"}, {"night", "dark", "neon", "fireworks"}},
        {{"doga", "orman", "agac", "dag", "cicek"}, {"nature", "forest", "tree", "mountain", "flower", "landscape"}},
        {{"kar", "kis", "kayak"}, {"snow", "winter", "ice", "ski", "skiing"}},
        {{"kopek"}, {"dog", "puppy", "canine"}},
        {{"kedi"}, {"cat", "kitten", "feline"}},
        {{"hayvan", "kus", "at", "balik"}, {"animal", "bird", "horse", "fish", "wildlife"}},
        {{"araba", "arac", "otomobil", "trafik"}, {"car", "vehicle", "automobile", "traffic", "highway"}},
        {{"bisiklet", "motosiklet"}, {"bicycle", "bike", "motorcycle", "cycling"}},
        {{"ucak", "tekne", "gemi"}, {"airplane", "aircraft", "boat", "ship", "yacht"}},
        {{"yemek", "mutfak", "kahve", "restoran"}, {"food", "meal", "cooking", "kitchen", "coffee", "restaurant"}},
        {{"pasta", "dogum gunu", "parti", "dugun"}, {"cake", "birthday", "party", "wedding", "balloon"}},
        {{"muzik", "konser", "gitar", "dans"}, {"music", "concert", "stage", "guitar", "piano", "dance"}},
        {{"spor", "futbol", "basketbol", "kosu"}, {"sport", "soccer", "football", "basketball", "running", "stadium"}},
        {{"ekran", "bilgisayar", "laptop", "kod", "sunum"},
         {"computer", "laptop", "screen", "monitor", "keyboard", "presentation"}},
    };
    return table;
}

const QList<PhraseExpansion> &VisualSearchService::phraseExpansions()
{
    static const QList<PhraseExpansion> table{
        {"oyun oynayan cocuk", {"children playing a game", "kids playing with toys", "young children playing"}},
        {"cocuklar oyun", {"children playing a game", "kids playing together"}},
        {"parkta cocuk", {"children playing in a park playground", "kids at the park"}},
        {"gun batimi", {"sunset sky over the horizon", "golden hour sunset"}},
        {"deniz kenar", {"beach by the sea ocean coast", "seaside vacation"}},
        {"dogum gunu", {"birthday cake party celebration with candles", "birthday party"}},
        {"ekran kayd", {"computer screen recording software interface", "desktop monitor screen"}},
        {"futbol mac", {"soccer football match on a field", "playing football"}},
        {"yemek yap", {"cooking food in a kitchen", "preparing a meal"}},
        {"araba sur", {"driving a car on the road", "car interior view driving"}},
        {"kar yag", {"snowing winter landscape snow", "snowfall outdoors"}},
        {"kimlik kart", {"identity card id card document", "government id card"}},
        {"kredi kart", {"credit card bank card"}},
    };
    return table;
}

const QList<DictionaryPair> &VisualSearchService::localJapaneseGermanDictionary()
{
    static const QList<DictionaryPair> table{
        {"海", "ocean sea beach"}, {"夕日", "sunset"}, {"子供", "children kids"}, {"遊ぶ", "playing"},
        {"車", "car"}, {"自然", "nature landscape"}, {"料理", "food cooking"}, {"画面", "computer screen"},
        {"犬", "dog"}, {"猫", "cat"}, {"山", "mountains"}, {"雪", "snow winter"}, {"花", "flowers"},
        {"街", "city street"}, {"夜", "night"}, {"家族", "family"}, {"旅行", "vacation travel"},
        {"誕生日", "birthday cake"}, {"音楽", "music concert"}, {"スポーツ", "sports"},
        {"strand", "beach sea ocean"}, {"meer", "ocean sea"}, {"sonnenuntergang", "sunset"},
        {"kinder", "children kids"}, {"spielende", "playing"}, {"spielen", "playing"}, {"auto", "car"},
        {"natur", "nature landscape"}, {"essen", "food meal"}, {"bildschirm", "computer screen"},
        {"hund", "dog"}, {"katze", "cat"}, {"berge", "mountains"}, {"schnee", "snow winter"},
        {"blumen", "flowers"}, {"stadt", "city street"}, {"nacht", "night"}, {"familie", "family"},
        {"urlaub", "vacation"}, {"geburtstag", "birthday cake"}, {"musik", "music"}, {"ausweis", "id card"},
    };
    return table;
}

const QList<DictionaryPair> &VisualSearchService::localTurkishDictionary()
{
    static const QList<DictionaryPair> table{
        {"kimlik", "id card identity card"}, {"pasaport", "passport document"},
        {"ehliyet", "driver license id card"}, {"fatura", "invoice receipt paper document"},
        {"belge", "paper document"}, {"evrak", "paper document"}, {"plaka", "car license plate"},
        {"kart", "card id card"}, {"cocuk", "children kids"}, {"bebek", "baby toddler"}, {"oglan", "young boy"},
        {"kiz", "young girl"}, {"oyun", "playing game toys"}, {"oyna", "playing"}, {"oyuncak", "toys"},
        {"park", "park playground"}, {"bahce", "garden backyard"}, {"deniz", "ocean sea beach water"},
        {"plaj", "sandy beach ocean sea"}, {"sahil", "seaside coastline beach"}, {"havuz", "swimming pool"},
        {"yuz", "swimming"}, {"tatil", "vacation holiday"}, {"gunes", "sunny sun"}, {"gokyuzu", "sky clouds"},
        {"gece", "nighttime dark lights"}, {"doga", "nature landscape"}, {"orman", "forest trees"},
        {"agac", "trees"}, {"dag", "mountains"}, {"kar", "snow winter"}, {"yagmur", "rain rainy"},
        {"cicek", "flowers"}, {"kopek", "dog puppy"}, {"kedi", "cat kitten"}, {"kus", "bird"},
        {"hayvan", "animal"}, {"araba", "car automobile"}, {"arac", "vehicle car"}, {"yol", "road street"},
        {"trafik", "traffic cars"}, {"bisiklet", "bicycle cycling"}, {"motosiklet", "motorcycle"},
        {"ucak", "airplane"}, {"tekne", "boat yacht"}, {"gemi", "ship boat"}, {"yemek", "food meal"},
        {"mutfak", "kitchen cooking"}, {"kahve", "coffee cup"}, {"pasta", "cake dessert"},
        {"restoran", "restaurant dining"}, {"parti", "party celebration"}, {"dugun", "wedding ceremony"},
        {"konser", "music concert stage"}, {"muzik", "playing music"}, {"gitar", "guitar"}, {"dans", "dancing"},
        {"spor", "sports"}, {"futbol", "soccer football"}, {"basketbol", "basketball"},
        {"kosu", "running jogging"}, {"ekran", "computer screen"}, {"bilgisayar", "computer laptop"},
        {"kod", "programming code on computer screen"}, {"sunum", "presentation slides"},
        {"ofis", "office desk"}, {"telefon", "smartphone"}, {"sehir", "city skyline buildings"},
        {"sokak", "city street"}, {"bina", "building architecture"}, {"ev", "house home interior"},
        {"oda", "indoor room"}, {"kirmizi", "red"}, {"mavi", "blue"}, {"yesil", "green"}, {"sari", "yellow"},
        {"siyah", "black"}, {"beyaz", "white"}, {"aile", "family together"}, {"insan", "people"},
        {"adam", "man"}, {"kadin", "woman"},
    };
    return table;
}

const QHash<QString, QString> &VisualSearchService::labelTranslationTR()
{
    static const QHash<QString, QString> table{
        {"child", "çocuk"}, {"children", "çocuklar"}, {"kid", "çocuk"}, {"toddler", "küçük çocuk"},
        {"baby", "bebek"}, {"boy", "erkek çocuk"}, {"girl", "kız çocuk"}, {"person", "kişi"},
        {"people", "insanlar"}, {"crowd", "kalabalık"}, {"portrait", "portre"}, {"family", "aile"},
        {"smile", "gülümseme"}, {"play", "oyun"}, {"playing", "oyun oynama"}, {"playground", "oyun parkı"},
        {"toy", "oyuncak"}, {"game", "oyun"}, {"park", "park"}, {"garden", "bahçe"}, {"beach", "plaj"},
        {"sea", "deniz"}, {"ocean", "okyanus"}, {"water", "su"}, {"swimming", "yüzme"}, {"pool", "havuz"},
        {"boat", "tekne"}, {"sunset", "gün batımı"}, {"sky", "gökyüzü"}, {"nature", "doğa"},
        {"forest", "orman"}, {"tree", "ağaç"}, {"mountain", "dağ"}, {"flower", "çiçek"},
        {"outdoor", "açık hava"}, {"indoor", "iç mekan"}, {"snow", "kar"}, {"winter", "kış"},
        {"night", "gece"}, {"city", "şehir"}, {"street", "sokak"}, {"building", "bina"}, {"room", "oda"},
        {"home", "ev"}, {"dog", "köpek"}, {"cat", "kedi"}, {"animal", "hayvan"}, {"bird", "kuş"},
        {"car", "araba"}, {"vehicle", "araç"}, {"road", "yol"}, {"traffic", "trafik"},
        {"bicycle", "bisiklet"}, {"motorcycle", "motosiklet"}, {"airplane", "uçak"}, {"food", "yemek"},
        {"meal", "öğün"}, {"kitchen", "mutfak"}, {"cooking", "yemek pişirme"}, {"coffee", "kahve"},
        {"cake", "pasta"}, {"restaurant", "restoran"}, {"party", "parti"}, {"wedding", "düğün"},
        {"concert", "konser"}, {"music", "müzik"}, {"dance", "dans"}, {"guitar", "gitar"}, {"sport", "spor"},
        {"soccer", "futbol"}, {"football", "futbol"}, {"basketball", "basketbol"}, {"computer", "bilgisayar"},
        {"laptop", "laptop"}, {"screen", "ekran"}, {"monitor", "monitör"}, {"office", "ofis"},
        {"text", "metin"}, {"phone", "telefon"},
    };
    return table;
}
