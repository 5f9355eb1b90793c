#include "library/L10n.h"

#include <QHash>
#include <QLocale>
#include <QSettings>
#include <QtGlobal>

namespace {

struct Row {
    const char *key;
    const char *en;
    const char *ja;
    const char *de;
};

// Order matters only for allKeys(); lookups go through the hash.
// Words naming the other platform's products are already replaced by what runs here.
constexpr Row kRows[] = {
    // scope
    {"scope.users", "Users (/home)", "ユーザー (/home)", "Benutzer (/home)"},
    {"scope.users.sub", "/home (Current & Shared)", "/home（現在と共有）", "/home (Aktuell & Geteilt)"},
    {"scope.allmac", "Entire Computer", "コンピュータ全体", "Gesamter Computer"},
    {"scope.allmac.sub", "/home, iCloud Drive & External Drives", "/home、iCloud Drive、外部ドライブ",
     "/home, iCloud Drive & Externe Laufwerke"},

    // sidebar
    {"sidebar.sources", "SOURCES", "ソース", "QUELLEN"},
    {"sidebar.views", "SMART VIEWS", "スマート表示", "INTELLIGENTE ANSICHTEN"},
    {"sidebar.formats", "FORMATS", "フォーマット", "FORMATE"},
    {"sidebar.tools", "TOOLS", "ツール", "WERKZEUGE"},
    {"sidebar.addFolder", "Add Folder…", "フォルダを追加…", "Ordner hinzufügen…"},
    {"sidebar.photosLibrary", "Photos Library", "写真ライブラリ", "Fotos-Mediathek"},
    {"sidebar.photosLibrary.help", "Include original videos inside Photos Library", "写真ライブラリ内のオリジナル動画を含める",
     "Originalvideos aus der Fotos-Mediathek einbeziehen"},
    {"sidebar.refreshSources", "Refresh mounted drives & sources", "接続ドライブとソースを更新",
     "Laufwerke & Quellen aktualisieren"},
    {"sidebar.fullDiskAccess", "Folder Permissions Settings", "フォルダのアクセス権設定", "Ordnerberechtigungen"},
    {"sidebar.duplicates", "Duplicate Videos", "重複動画を検出", "Doppelte Videos"},
    {"sidebar.compress", "Batch Compressor", "一括動画圧縮", "Stapel-Komprimierung"},
    {"sidebar.insights", "Storage Insights", "ストレージ分析", "Speicheranalyse"},
    {"sidebar.settings", "Settings…", "設定…", "Einstellungen…"},
    {"sidebar.rescanTooltip", "Rescan active source (Ctrl+R)", "現在のソースを再スキャン (Ctrl+R)",
     "Aktive Quelle neu scannen (Ctrl+R)"},
    {"sidebar.sourcesRefreshed", "Sources updated", "ソースを更新しました", "Quellen aktualisiert"},

    // filter
    {"filter.all", "All Videos", "すべての動画", "Alle Videos"},
    {"filter.recent", "Last 30 Days", "過去30日間", "Letzte 30 Tage"},
    {"filter.large", "Large Files (≥ 250 MB)", "大容量 (250 MB以上)", "Große Dateien (≥ 250 MB)"},
    {"filter.native", "MP4 / MOV / M4V", "MP4 / MOV / M4V", "MP4 / MOV / M4V"},
    {"filter.other", "MKV / WEBM / Other", "MKV / WEBM / その他", "MKV / WEBM / Sonstige"},

    // sort
    {"sort.name", "Name (A–Z)", "名前順 (A–Z)", "Name (A–Z)"},
    {"sort.size", "Size (Largest)", "サイズ順 (大→小)", "Größe (Größte zuerst)"},
    {"sort.date", "Date (Newest)", "日付順 (新しい順)", "Datum (Neueste)"},
    {"sort.format", "Format", "フォーマット順", "Format"},
    {"sort.short.name", "Name", "名前", "Name"},
    {"sort.short.size", "Size", "サイズ", "Größe"},
    {"sort.short.date", "Date", "日付", "Datum"},
    {"sort.short.format", "Format", "形式", "Format"},

    // toolbar
    {"toolbar.rescan", "Rescan", "再スキャン", "Neu scannen"},
    {"toolbar.searchPlaceholder", "Search videos, folders, or extensions…", "動画、フォルダ、拡張子を検索…",
     "Videos, Ordner oder Endungen suchen…"},
    {"toolbar.aiPlaceholder", "Describe a scene or on-screen text (e.g. \"kids playing\", \"beach\")…",
     "シーンや画面内テキストを検索（例：「海」「遊んでいる子供」）…",
     "Szene oder Text im Video suchen (z. B. „Strand“, „spielende Kinder“)…"},
    {"toolbar.visualSearch", "Visual Search", "ビジュアル検索", "Visuelle Suche"},
    {"toolbar.visualSearchOn", "Visual Search On", "ビジュアル検索オン", "Visuelle Suche an"},
    {"toolbar.compactOn", "Compact empty folders: ON", "空フォルダをまとめる: オン", "Leere Ordner zusammenfassen: AN"},
    {"toolbar.compactOff", "Compact empty folders: OFF", "空フォルダをまとめる: オフ", "Leere Ordner zusammenfassen: AUS"},
    {"toolbar.expandAll", "Expand All Folders", "すべて展開", "Alle Ordner aufklappen"},
    {"toolbar.collapseAll", "Collapse All Folders", "すべて折りたたむ", "Alle Ordner zuklappen"},
    {"toolbar.theme", "Appearance", "外観", "Erscheinungsbild"},
    {"toolbar.inspector", "Toggle Preview Panel", "プレビューパネルの表示切替", "Vorschaubereich ein-/ausblenden"},
    {"toolbar.scanning", "Scanning folders…", "フォルダをスキャン中…", "Ordner werden gescannt…"},
    {"toolbar.stop", "Stop", "停止", "Stopp"},
    {"toolbar.cancel", "Cancel", "キャンセル", "Abbrechen"},
    {"toolbar.videos", "videos", "本", "Videos"},
    {"toolbar.matches", "matches", "件一致", "Treffer"},
    {"toolbar.results", "results", "件", "Ergebnisse"},
    {"toolbar.examples", "Examples:", "例:", "Beispiele:"},
    {"toolbar.clearFilters", "Clear Filters", "フィルタをクリア", "Filter zurücksetzen"},
    {"toolbar.noVideos", "No Videos Found", "動画が見つかりません", "Keine Videos gefunden"},
    {"toolbar.noVideos.appStore", "Choose a Folder to Begin", "フォルダを選択して開始", "Wähle einen Ordner, um zu beginnen"},
    {"toolbar.noMatches", "No Matching Videos", "一致する動画はありません", "Keine passenden Videos"},
    {"toolbar.scanningEmptySub", "Building your video folder tree…", "動画フォルダツリーを作成中…",
     "Dein Videoordnerbaum wird erstellt…"},
    {"toolbar.loadingLibrary", "Loading library…", "ライブラリを読み込み中…", "Mediathek wird geladen…"},
    {"toolbar.loadingLibrarySub", "Reading the videos found last time…", "前回見つかった動画を読み込んでいます…",
     "Die zuletzt gefundenen Videos werden gelesen…"},
    {"toolbar.noFilterMatchSub", "Try adjusting your search query or filters.", "検索語やフィルタを変更してみてください。",
     "Passe Suchbegriff oder Filter an."},
    {"toolbar.noVideosSub", "Choose a folder or grant folder permissions to scan protected folders.",
     "フォルダを選択するか、フォルダのアクセス権を許可して保護されたフォルダをスキャンします。",
     "Wähle einen Ordner oder erteile Ordnerberechtigungen, um geschützte Ordner zu scannen."},
    {"toolbar.noVideosSub.appStore", "Add a folder to scan the videos inside it.",
     "フォルダを追加すると、その中の動画をスキャンします。",
     "Füge einen Ordner hinzu, um die Videos darin zu scannen."},

    // ai
    {"ai.title", "Visual Search", "ビジュアル検索", "Visuelle Suche"},
    {"ai.onDevice", "On-Device", "ローカル実行", "Lokal"},
    {"ai.ready", "Ready", "準備完了", "Bereit"},
    {"ai.downloadPrompt", "Download Apple MobileCLIP-S2 (~398 MB) once for private on-device scene search.",
     "ローカルのシーン検索のため Apple MobileCLIP-S2（約398 MB）を一度ダウンロードします。",
     "Lade Apple MobileCLIP-S2 (~398 MB) einmalig für lokale Szenensuche."},
    {"ai.downloadBtn", "Download Model (~398 MB)", "モデルをダウンロード (~398 MB)", "Modell laden (~398 MB)"},
    {"ai.stageConnecting", "Connecting…", "接続中…", "Verbinde…"},
    {"ai.stageCompiling", "Preparing the model for libtorch…", "libtorch 用にモデルを準備中…",
     "Modell wird für libtorch vorbereitet…"},
    {"ai.modelReady", "MobileCLIP-S2 ready", "MobileCLIP-S2 の準備ができました", "MobileCLIP-S2 bereit"},
    {"ai.modelRemoved", "MobileCLIP-S2 removed", "MobileCLIP-S2 を削除しました", "MobileCLIP-S2 entfernt"},
    {"ai.downloadShort", "Download Model", "モデルをダウンロード", "Modell laden"},
    {"ai.indexNow", "Index Videos", "インデックス作成", "Indizieren"},
    {"ai.upToDate", "Up to Date", "最新", "Aktuell"},
    {"ai.indexing", "Indexing:", "インデックス作成中:", "Indizierung:"},
    {"ai.indexed", "indexed", "件インデックス済み", "indiziert"},
    {"ai.skipped", "skipped (iCloud/unreadable)", "スキップ (iCloud/読取不可)", "übersprungen (iCloud/ungültig)"},
    {"ai.modelDamaged", "The scene model is damaged and indexing stopped. Remove the model and download it again.",
     "シーンモデルが破損しているため、インデックス作成を停止しました。モデルを削除して再ダウンロードしてください。",
     "Das Szenenmodell ist beschädigt, die Indizierung wurde angehalten. Entfernen Sie das Modell und laden Sie es neu."},
    // the model download's failures
    {"ai.downloadFailed", "Download failed: ", "ダウンロードに失敗しました: ", "Download fehlgeschlagen: "},
    {"ai.serverAnswer", "Server answer:", "サーバーの応答:", "Antwort des Servers:"},
    {"ai.gzipStart", "The vocabulary could not be unpacked: zlib did not start.",
     "語彙を展開できませんでした: zlib を開始できません。", "Das Vokabular ließ sich nicht entpacken: zlib startet nicht."},
    {"ai.gzipDamaged", "The vocabulary file is damaged and could not be unpacked",
     "語彙ファイルが破損しているため展開できませんでした", "Die Vokabulardatei ist beschädigt und ließ sich nicht entpacken"},
    {"ai.retry", "Retry Download", "ダウンロードを再試行", "Erneut laden"},
    {"ai.removeModel", "Remove downloaded model", "モデルを削除して空き容量を確保", "Modell entfernen"},
    {"ai.textMatch", "Text match", "テキスト一致", "Texttreffer"},
    {"ai.matchedMoments", "Matched Moments", "一致したシーン", "Passende Momente"},
    {"ai.jumpToMoment", "Jump to matched moment", "一致したシーンへ移動", "Zum passenden Moment springen"},
    {"ai.bannerReady", "videos ready for offline search", "本の動画をオフライン検索できます",
     "Videos bereit für die Offline-Suche"},
    {"ai.bannerNeedModel", "Download Apple MobileCLIP-S2 (~398 MB) for semantic visual search",
     "意味で探すビジュアル検索のため Apple MobileCLIP-S2（約398 MB）をダウンロード",
     "Lade Apple MobileCLIP-S2 (~398 MB) für die semantische visuelle Suche"},
    {"ai.translationPack", "Download Apple Translation Pack", "Apple 翻訳パックをダウンロード",
     "Apple-Übersetzungspaket laden"},

    // inspector
    {"inspector.title", "Preview & Info", "プレビューと情報", "Vorschau & Info"},
    {"inspector.theater", "Wide Player", "ワイドプレーヤー", "Breiter Player"},
    {"inspector.fullscreen", "Full Screen (F)", "フルスクリーン (F)", "Vollbild (F)"},
    {"inspector.exitFullscreen", "Exit Full Screen", "フルスクリーンを終了", "Vollbild beenden"},
    {"inspector.openExternal", "Open in Default App (Ctrl+O)", "デフォルトアプリで開く (Ctrl+O)",
     "In Standard-App öffnen (Ctrl+O)"},
    {"inspector.closePanel", "Close Preview Panel", "プレビューパネルを閉じる", "Vorschaubereich schließen"},
    {"inspector.trimMerge", "Trim & Merge Clips", "トリミング・結合", "Zuschneiden & Zusammenfügen"},
    {"inspector.move", "Move", "移動", "Bewegen"},
    {"inspector.trash", "Trash", "ゴミ箱", "Papierkorb"},
    {"inspector.revealFinder", "Show in File Manager", "ファイルマネージャで表示", "Im Dateimanager zeigen"},
    {"inspector.noSelection", "No Video Selected", "動画が選択されていません", "Kein Video ausgewählt"},
    {"inspector.noSelectionSub", "Select a video from the tree to watch, trim, move, or delete.",
     "ツリーから動画を選択すると、再生・トリミング・移動・削除ができます。",
     "Wähle ein Video im Baum, um es anzusehen, zuzuschneiden, zu bewegen oder zu löschen."},
    {"inspector.fullscreenActive", "Playing in Full Screen", "フルスクリーンで再生中", "Wiedergabe im Vollbild"},
    {"inspector.aiInsights", "Visual & Text Index", "ビジュアル・テキストインデックス", "Bild- & Textindex"},

    // meta
    {"meta.size", "File Size", "ファイルサイズ", "Dateigröße"},
    {"meta.duration", "Duration", "再生時間", "Dauer"},
    {"meta.resolution", "Resolution", "解像度", "Auflösung"},
    {"meta.fps", "Frame Rate", "フレームレート", "Bildrate"},
    {"meta.codec", "Codec", "コーデック", "Codec"},
    {"meta.player", "Player Engine", "再生エンジン", "Player-Engine"},
    {"meta.modified", "Modified", "更新日", "Geändert"},
    {"meta.created", "Created", "作成日", "Erstellt"},

    // editor
    {"editor.title", "Trim & Merge Segments", "セグメントのトリミング・結合", "Segmente zuschneiden & zusammenfügen"},
    {"editor.split", "Split Here", "ここで分割", "Hier teilen"},
    {"editor.addRange", "Add Range", "範囲を追加", "Bereich hinzufügen"},
    {"editor.removeRange", "Remove Range", "範囲を削除", "Bereich entfernen"},
    {"editor.reset", "Reset", "リセット", "Zurücksetzen"},
    {"editor.previewKept", "Preview kept ranges only", "残す範囲のみプレビュー", "Nur behaltene Bereiche abspielen"},
    {"editor.segmentsHeader", "SEGMENTS TO MERGE", "結合するセグメント", "ZU VERBINDENDE SEGMENTE"},
    {"editor.hint", "Tip: Split before & after unwanted sections, then remove the middle segment.",
     "ヒント：不要な部分の前後で分割し、間のセグメントを削除します。",
     "Tipp: Vor und nach unerwünschten Abschnitten teilen, dann das mittlere Segment entfernen."},
    {"editor.quality", "Quality & Size", "画質とサイズ", "Qualität & Größe"},
    {"editor.saveMode", "Output", "出力", "Ausgabe"},
    {"editor.preset.passthrough", "Original Quality (Fast / Lossless)", "元の画質 (高速 / 無劣化)",
     "Originalqualität (Schnell / Verlustfrei)"},
    {"editor.preset.hevc", "HEVC H.265 (Smaller Size)", "HEVC H.265 (小さいサイズ)", "HEVC H.265 (Kleinere Datei)"},
    {"editor.preset.h264", "1080p H.264 (Universal)", "1080p H.264 (互換性重視)", "1080p H.264 (Universell)"},
    {"editor.save.new", "Save as New File", "新しいファイルとして保存", "Als neue Datei speichern"},
    {"editor.save.replace", "Replace Original (Move old to Trash)", "元のファイルを置き換え (旧ファイルはゴミ箱へ)",
     "Original ersetzen (Alte Datei in den Papierkorb)"},
    {"editor.mergeExport", "Merge & Export", "結合して書き出し", "Zusammenfügen & Exportieren"},
    {"editor.trimExport", "Trim & Export", "トリミングして書き出し", "Zuschneiden & Exportieren"},
    {"editor.play", "Play", "再生", "Abspielen"},
    {"editor.pause", "Pause", "一時停止", "Pause"},
    {"editor.saved", "smaller", "縮小", "kleiner"},

    // dup
    {"dup.title", "Duplicate Video Finder", "重複動画の検出", "Doppelte Videos finden"},
    {"dup.subtitle", "Exact byte-for-byte SHA-256 verification — zero false positives.",
     "SHA-256 によるバイト単位の完全一致確認 — 誤検出ゼロ。",
     "Exakte byteweise SHA-256-Prüfung — keine Fehltreffer."},
    {"dup.scan", "Scan for Duplicates", "重複をスキャン", "Nach Duplikaten suchen"},
    {"dup.scanning", "Comparing file sizes & SHA-256 checksums…", "ファイルサイズと SHA-256 チェックサムを比較中…",
     "Dateigrößen & SHA-256-Prüfsummen werden verglichen…"},
    {"dup.none", "No Duplicate Videos Found", "重複動画は見つかりませんでした", "Keine doppelten Videos gefunden"},
    {"dup.noneSub", "Your current video library has no identical copies.", "現在の動画ライブラリに同一のコピーはありません。",
     "Deine aktuelle Videobibliothek enthält keine identischen Kopien."},
    {"dup.reclaimable", "reclaimable", "解放可能", "freigebbar"},
    {"dup.groups", "duplicate groups", "組の重複", "Duplikatgruppen"},
    {"dup.autoSelect", "Auto-Select Copies", "コピーを自動選択", "Kopien automatisch auswählen"},
    {"dup.trashSelected", "Move Selected to Trash", "選択項目をゴミ箱に入れる", "Auswahl in den Papierkorb"},
    {"dup.original", "Keep", "保持", "Behalten"},
    {"dup.copy", "Copy", "コピー", "Kopie"},
    {"dup.done", "Close", "閉じる", "Schließen"},
    {"dup.tabExact", "Exact Copies (SHA-256)", "完全一致 (SHA-256)", "Exakte Kopien (SHA-256)"},
    {"dup.tabSimilar", "Similar Videos (AI)", "類似動画 (AI)", "Ähnliche Videos (KI)"},
    {"dup.similarity", "Similarity", "類似度", "Ähnlichkeit"},
    {"dup.needIndex", "Index your videos with Visual Search first to detect visually similar clips.",
     "見た目が似た動画を検出するには、まずビジュアル検索で動画をインデックス化してください。",
     "Indiziere deine Videos zuerst mit der visuellen Suche, um ähnliche Clips zu erkennen."},
    {"dup.similarNone", "No Visually Similar Videos Found", "見た目が似た動画は見つかりませんでした",
     "Keine visuell ähnlichen Videos gefunden"},
    // Shown after a count: files the duplicate scan could not read, copies the Trash refused.
    {"dup.unreadable", "videos could not be read", "本の動画を読み取れませんでした", "Videos konnten nicht gelesen werden"},
    {"dup.noneAmongReadable", "No Duplicates Among the Readable Videos", "読み取れた動画に重複はありません",
     "Keine Duplikate unter den lesbaren Videos"},
    {"dup.trashFailed", "videos could not be moved to the Trash", "本の動画をゴミ箱に入れられませんでした",
     "Videos konnten nicht in den Papierkorb gelegt werden"},

    // move
    {"move.titleSingle", "Move Video", "動画を移動", "Video bewegen"},
    {"move.titleMulti", "Move Videos", "動画を移動", "Videos bewegen"},
    {"move.filter", "Filter folders…", "フォルダを絞り込み…", "Ordner filtern…"},
    {"move.chooseFolder", "Choose Folder…", "フォルダを選択…", "Ordner wählen…"},
    {"move.copying", "Moving to another disk…", "別のディスクへ移動中…", "Wird auf ein anderes Laufwerk bewegt…"},
    {"move.copyBusy", "Wait until the move to another disk has ended", "別のディスクへの移動が終わるまでお待ちください",
     "Warte, bis das Bewegen auf ein anderes Laufwerk beendet ist"},
    {"move.recent", "RECENT DESTINATIONS", "最近の移動先", "LETZTE ZIELE"},
    {"move.treeFolders", "FOLDERS IN TREE", "ツリー内のフォルダ", "ORDNER IM BAUM"},
    {"move.conflictNote", "Existing filenames are automatically renamed safely.",
     "同じ名前のファイルがある場合は、自動的に安全な名前に変更されます。",
     "Vorhandene Dateinamen werden automatisch sicher umbenannt."},

    // ctx
    {"ctx.play", "Play", "再生", "Abspielen"},
    {"ctx.trim", "Trim & Merge Clips…", "トリミング・結合…", "Zuschneiden & Zusammenfügen…"},
    {"ctx.openDefault", "Open in Default App", "デフォルトアプリで開く", "In Standard-App öffnen"},
    {"ctx.reveal", "Show in File Manager", "ファイルマネージャで表示", "Im Dateimanager zeigen"},
    {"ctx.move", "Move to Folder…", "別フォルダへ移動…", "In Ordner bewegen…"},
    {"ctx.copyPath", "Copy Path", "パスをコピー", "Pfad kopieren"},
    {"ctx.trash", "Move to Trash", "ゴミ箱に入れる", "In den Papierkorb"},
    {"ctx.deletePerm", "Delete Permanently…", "完全に削除…", "Endgültig löschen…"},
    {"ctx.expand", "Expand Folder", "フォルダを展開", "Ordner aufklappen"},
    {"ctx.collapse", "Collapse Folder", "フォルダを折りたたむ", "Ordner zuklappen"},
    {"ctx.moveFolderVideos", "Move All Videos in Folder…", "フォルダ内の全動画を移動…", "Alle Videos im Ordner bewegen…"},

    // sel, alert, toast
    {"sel.selected", "selected", "件選択中", "ausgewählt"},
    {"alert.permTitle", "Delete Permanently", "完全に削除", "Endgültig löschen"},
    {"alert.permConfirm", "Delete Permanently", "完全に削除", "Endgültig löschen"},
    {"toast.undo", "Undo", "元に戻す", "Widerrufen"},
    {"toast.pathCopied", "Path copied to clipboard", "パスをコピーしました", "Pfad kopiert"},
    {"toast.folderUnreadable", "A folder could not be read", "読み込めないフォルダがあります",
     "Ein Ordner konnte nicht gelesen werden"},
    {"toast.noUnreadableFolders", "Every folder of the last scan could be read", "前回のスキャンではすべてのフォルダを読み込めました",
     "Alle Ordner des letzten Scans konnten gelesen werden"},
    {"error.readOnly", "The file system is read-only", "ファイルシステムは読み取り専用です",
     "Das Dateisystem ist schreibgeschützt"},
    {"error.notAFolder", "This cannot be added as a folder", "これはフォルダとして追加できません",
     "Dies kann nicht als Ordner hinzugefügt werden"},

    // onb
    {"onb.welcome", "Welcome to Lumenkite", "Lumenkite へようこそ", "Willkommen bei Lumenkite"},
    {"onb.subtitle", "Fast, private video management built natively for Linux.",
     "Linux 向けにネイティブ開発された、高速でプライベートな動画管理。",
     "Schnelle, private Videoverwaltung, nativ für Linux entwickelt."},
    {"onb.f1.title", "Organized Folder Tree", "整理されたフォルダツリー", "Übersichtlicher Ordnerbaum"},
    {"onb.f1.desc",
     "Browse every video on your computer grouped by folder with sizes, formats, and exact duplicate detection.",
     "コンピュータ内のすべての動画をフォルダごとに表示。サイズ、フォーマット、完全一致の重複検出も。",
     "Durchsuche alle Videos auf deinem Computer nach Ordnern gruppiert, mit Größen, Formaten und exakter "
     "Duplikaterkennung."},
    {"onb.f2.title", "Watch, Trim & Shrink", "再生・トリミング・圧縮", "Ansehen, Zuschneiden & Verkleinern"},
    {"onb.f2.desc",
     "Play MP4, MOV, MKV, WEBM, and more. Cut unwanted middle sections and merge clips into one smaller file.",
     "MP4、MOV、MKV、WEBM などを再生。不要な途中部分をカットし、クリップを1つの小さなファイルに結合します。",
     "Spiele MP4, MOV, MKV, WEBM und mehr ab. Schneide unerwünschte Mittelteile heraus und füge Clips zu einer "
     "kleineren Datei zusammen."},
    {"onb.f3.title", "100% On-Device Visual Search", "100% ローカルのビジュアル検索", "100 % lokale visuelle Suche"},
    {"onb.f3.desc", "Find scenes and on-screen text with libtorch & Tesseract OCR. Nothing ever leaves your computer.",
     "libtorch と Tesseract OCR でシーンや画面内のテキストを検索。データがコンピュータの外に出ることはありません。",
     "Finde Szenen und Text im Bild mit libtorch & Tesseract-OCR. Nichts verlässt jemals deinen Computer."},
    {"onb.chooseFolder", "Choose Custom Folder…", "カスタムフォルダを選択…", "Eigenen Ordner wählen…"},
    {"onb.getStarted", "Get Started", "はじめる", "Los geht’s"},

    // appearance
    {"appearance.system", "System", "システム", "System"},
    {"appearance.light", "Light", "ライト", "Hell"},
    {"appearance.dark", "Dark", "ダーク", "Dunkel"},

    // menu
    {"menu.videos", "Videos", "動画", "Videos"},
    {"menu.language", "Language", "言語", "Sprache"},
    {"menu.welcome", "Show Welcome Guide", "ようこそガイドを表示", "Willkommensguide anzeigen"},
    {"menu.quit", "Quit", "終了", "Beenden"},

    // desktop actions that found no handler
    {"error.revealFailed", "No file manager could show the item.", "ファイルマネージャで項目を表示できませんでした。",
     "Kein Dateimanager konnte das Objekt zeigen."},
    {"error.openFailed", "No application could open the file.", "ファイルを開けるアプリケーションがありません。",
     "Keine Anwendung konnte die Datei öffnen."},
    {"error.permissionsFailed", "The folder could not be opened in a file manager.",
     "フォルダをファイルマネージャで開けませんでした。", "Der Ordner konnte in keinem Dateimanager geöffnet werden."},

    // perm
    {"perm.banner", "Folders requiring permission:", "アクセス許可が必要なフォルダ:", "Ordner mit fehlender Berechtigung:"},
    {"perm.grant", "Open Folder Permissions", "フォルダのアクセス権を開く", "Ordnerberechtigungen öffnen"},

    // comp
    {"comp.title", "Batch Video Compressor", "一括動画圧縮", "Stapel-Videokomprimierung"},
    {"comp.subtitle", "FFmpeg HEVC compression to reclaim gigabytes safely.",
     "FFmpeg による HEVC 圧縮で、ギガバイト単位の空き容量を安全に確保。",
     "HEVC-Komprimierung mit FFmpeg, um sicher Gigabytes freizugeben."},
    {"comp.preset.hevcBalanced", "Balanced HEVC H.265 (~50% smaller)", "バランス HEVC H.265 (約50%縮小)",
     "Ausgewogen HEVC H.265 (~50 % kleiner)"},
    {"comp.preset.hevc1080p", "1080p HEVC H.265 (Max Savings)", "1080p HEVC H.265 (最大節約)",
     "1080p HEVC H.265 (Maximale Ersparnis)"},
    {"comp.preset.h2641080p", "1080p H.264 (Universal)", "1080p H.264 (互換性重視)", "1080p H.264 (Universell)"},
    {"comp.estSavings", "estimated savings", "推定節約量", "geschätzte Ersparnis"},
    {"comp.start", "Compress Selected", "選択項目を圧縮", "Auswahl komprimieren"},
    {"comp.selectAll", "Select All", "すべて選択", "Alle auswählen"},
    {"comp.deselectAll", "Deselect All", "すべて選択解除", "Auswahl aufheben"},
    {"comp.doneTitle", "Compression Complete", "圧縮完了", "Komprimierung abgeschlossen"},
    {"comp.reclaimed", "reclaimed", "解放", "freigegeben"},
    {"comp.action", "Compress", "圧縮", "Komprimieren"},

    // after a trim or a compression: what happened to each file
    {"edit.originalChanged", "The original changed while the new file was being made, so it was kept:",
     "新しいファイルの作成中に元のファイルが変更されたため、そのまま残しました:",
     "Das Original wurde während der Erstellung der neuen Datei geändert und bleibt daher erhalten:"},
    {"edit.originalGone", "The original was moved or removed while the new file was being made:",
     "新しいファイルの作成中に元のファイルが移動または削除されました:",
     "Das Original wurde während der Erstellung der neuen Datei verschoben oder entfernt:"},
    {"edit.resultSavedAs", "The result is saved as", "結果の保存先:", "Das Ergebnis liegt unter"},
    {"comp.failedTitle", "Compression Failed", "圧縮に失敗しました", "Komprimierung fehlgeschlagen"},
    {"comp.added", "added in new files", "新しいファイルで増加", "mehr durch neue Dateien"},
    {"comp.nothingReclaimed", "Nothing reclaimed", "解放された容量はありません", "Nichts freigegeben"},
    {"comp.notSmaller", "Kept as they were, since they could not get smaller:",
     "小さくできなかったため、そのまま残しました:", "Unverändert behalten, da sie nicht kleiner wurden:"},
    {"comp.failedItems", "Failed:", "失敗:", "Fehlgeschlagen:"},
    {"comp.originalsKept", "Originals still on disk (not reclaimed):", "ディスクに残っている元のファイル (未解放):",
     "Originale noch auf dem Datenträger (nicht freigegeben):"},
    {"comp.stoppedDone", "Stopped. Finished before the stop:", "停止しました。停止前に完了:",
     "Angehalten. Vor dem Anhalten fertig:"},
    {"comp.stoppedNone", "Stopped. No video was finished.", "停止しました。完了した動画はありません。",
     "Angehalten. Kein Video wurde fertig."},

    // speech
    {"speech.transcribe", "Transcribe Audio", "音声を文字起こし", "Audio transkribieren"},
    {"speech.transcribing", "Transcribing on-device…", "ローカルで文字起こし中…", "Lokale Transkription läuft…"},
    {"speech.match", "Speech", "音声", "Sprache"},
    {"speech.transcript", "On-Device Transcript", "ローカル文字起こし", "Lokales Transkript"},
    {"speech.noSpeech", "No speech detected in audio track.", "音声トラックに発話が検出されませんでした。",
     "Keine Sprache in der Tonspur erkannt."},

    // insights
    {"insights.title", "Storage Insights", "ストレージ分析", "Speicheranalyse"},
    {"insights.subtitle", "See where your video gigabytes live and reclaim space in one click.",
     "動画の容量がどこにあるかを確認し、ワンクリックで空き容量を確保。",
     "Sieh, wo deine Video-Gigabytes liegen, und gib mit einem Klick Speicher frei."},
    {"insights.topFolders", "LARGEST FOLDERS", "容量の大きいフォルダ", "GRÖSSTE ORDNER"},
    {"insights.largestVideos", "LARGEST VIDEOS", "容量の大きい動画", "GRÖSSTE VIDEOS"},
    {"insights.byFormat", "STORAGE BY FORMAT", "フォーマット別の容量", "SPEICHER NACH FORMAT"},

    // settings
    {"settings.general", "General", "一般", "Allgemein"},
    {"settings.ai", "Visual & Speech AI", "映像・音声 AI", "Visuelle & Sprach-KI"},

    // tools the program could not find
    {"tools.missingTitle", "Missing Tools", "見つからないツール", "Fehlende Werkzeuge"},
    {"tools.missingToast", "Not found (details in Settings):", "見つかりません（詳細は設定）:",
     "Nicht gefunden (Details in den Einstellungen):"},
    {"tools.missingFFmpeg", "ffmpeg was not found: trimming and compression are unavailable.",
     "ffmpeg が見つかりません: トリミングと圧縮は使用できません。",
     "ffmpeg wurde nicht gefunden: Zuschneiden und Komprimieren sind nicht verfügbar."},
    {"tools.missingFFprobe", "ffprobe was not found: videos the app cannot read itself show fewer details.",
     "ffprobe が見つかりません: アプリ自身で読めない動画は表示される情報が少なくなります。",
     "ffprobe wurde nicht gefunden: Videos, die die App nicht selbst lesen kann, zeigen weniger Details."},
    {"tools.missingLibmpv", "libmpv was not found: only MP4, MOV, M4V, 3GP, TS and MPEG videos can be played.",
     "libmpv が見つかりません: 再生できるのは MP4、MOV、M4V、3GP、TS、MPEG の動画だけです。",
     "libmpv wurde nicht gefunden: Nur MP4-, MOV-, M4V-, 3GP-, TS- und MPEG-Videos können abgespielt werden."},
    {"tools.cannotPlayWithoutLibmpv", "This format needs libmpv, which was not found.",
     "この形式には libmpv が必要ですが、見つかりません。",
     "Dieses Format braucht libmpv, das nicht gefunden wurde."},
    {"tools.missingClipHelper", "The lumenkite-clip helper was not found: search by scene description is unavailable.",
     "lumenkite-clip ヘルパーが見つかりません: シーンの説明による検索は使用できません。",
     "Das Hilfsprogramm lumenkite-clip wurde nicht gefunden: Die Suche nach Szenenbeschreibungen ist nicht verfügbar."},

    // trim progress and errors, the move target, the similar-tab prompt, the settings rows
    {"trim.noValidRange", "Select at least one valid video range.", "有効な動画の範囲を少なくとも 1 つ選択してください。",
     "Wähle mindestens einen gültigen Videobereich aus."},
    {"trim.failurePrefix", "Export failed: ", "書き出しに失敗しました: ", "Export fehlgeschlagen: "},
    {"trim.stagePreparing", "Preparing…", "準備しています…", "Wird vorbereitet …"},
    {"trim.stageExporting", "Exporting video…", "動画を書き出しています…", "Video wird exportiert …"},
    {"trim.stageJoining", "Joining the ranges with ffmpeg…", "ffmpeg で範囲を結合しています…",
     "Bereiche werden mit ffmpeg zusammengefügt …"},
    {"trim.stageEncoding", "Encoding video…", "動画をエンコードしています…", "Video wird codiert …"},
    {"trim.stageSaving", "Saving…", "保存しています…", "Wird gespeichert …"},
    {"trim.noFFmpeg", "Trimming needs ffmpeg, which was not found.", "トリミングには ffmpeg が必要ですが、見つかりません。",
     "Zum Zuschneiden wird ffmpeg benötigt, das nicht gefunden wurde."},
    {"trim.ffmpegFailed", "ffmpeg reported an error.", "ffmpeg がエラーを報告しました。", "ffmpeg hat einen Fehler gemeldet."},
    {"trim.cannotStartFFmpeg", "Could not start ffmpeg: ", "ffmpeg を起動できませんでした: ",
     "ffmpeg konnte nicht gestartet werden: "},
    {"trim.unknownError", "unknown error", "不明なエラー", "unbekannter Fehler"},
    {"trim.ffmpegCrashedTwice", "ffmpeg stopped unexpectedly twice without an error message.",
     "ffmpeg がエラーメッセージなしで 2 回予期せず停止しました。",
     "ffmpeg wurde zweimal ohne Fehlermeldung unerwartet beendet."},
    {"trim.ffmpegFailedTwice", "ffmpeg failed twice without an error message. Exit status:",
     "ffmpeg がエラーメッセージなしで 2 回失敗しました。終了ステータス:",
     "ffmpeg ist zweimal ohne Fehlermeldung gescheitert. Exit-Status:"},
    {"trim.noVideoTrack", "No video track was found.", "映像トラックが見つかりませんでした。", "Keine Videospur gefunden."},
    {"trim.tooShort", "The selected ranges are too short.", "選択した範囲が短すぎます。",
     "Die ausgewählten Bereiche sind zu kurz."},
    {"trim.outputMissing", "The exported file is missing at ", "書き出したファイルが見つかりません: ",
     "Die exportierte Datei fehlt unter "},
    {"move.notAFolder", "The chosen destination is not a valid folder.", "選択した移動先は有効なフォルダではありません。",
     "Das gewählte Ziel ist kein gültiger Ordner."},
    {"dup.stageSizes", "Grouping by file size…", "ファイルサイズでグループ化しています…", "Nach Dateigröße gruppieren …"},
    {"dup.confirmSimilarTitle", "Move Similar Videos to Trash?", "似ている動画をゴミ箱に入れますか？",
     "Ähnliche Videos in den Papierkorb legen?"},
    {"dup.confirmSimilarNote", "Similar videos are not identical copies: each may hold scenes the others lack.",
     "似ている動画は同一のコピーではありません。ほかの動画にない場面が含まれていることがあります。",
     "Ähnliche Videos sind keine identischen Kopien: Jedes kann Szenen enthalten, die den anderen fehlen."},
    {"settings.nativeEngine", "Native Engine", "標準エンジン", "Eingebaute Wiedergabe"},
    {"settings.codecs", "Optional Universal Codecs", "追加のユニバーサルコーデック", "Optionale universelle Codecs"},
    {"settings.visualEngine", "Visual Search Engine", "映像検索エンジン", "Engine der visuellen Suche"},
    {"settings.model", "MobileCLIP-S2 Model", "MobileCLIP-S2 モデル", "MobileCLIP-S2-Modell"},
    {"settings.installed", "Installed", "インストール済み", "Installiert"},
    {"settings.indexedVideos", "Indexed Videos", "インデックス済みの動画", "Indizierte Videos"},
    {"settings.speech", "On-Device Speech Recognition", "端末上の音声認識", "Spracherkennung auf dem Gerät"},
    {"settings.codecsFound", "libmpv / ffmpeg detected", "libmpv / ffmpeg を検出", "libmpv / ffmpeg gefunden"},
    {"settings.codecsNative", "MP4 / MOV / M4V / HEVC native", "MP4 / MOV / M4V / HEVC を標準で再生",
     "MP4 / MOV / M4V / HEVC eingebaut"},
    {"settings.speechOffline", "pocketsphinx en-US (offline)", "pocketsphinx en-US (オフライン)",
     "pocketsphinx en-US (offline)"},
    {"edit.outputEmpty", "The exported file is empty.", "書き出したファイルが空です。", "Die exportierte Datei ist leer."},
    {"edit.outputUnreadable", "The exported file cannot be read as a video.", "書き出したファイルを動画として読み込めません。",
     "Die exportierte Datei lässt sich nicht als Video lesen."},
    {"edit.outputLength", "The result does not last as long as the kept time (result / expected):",
     "結果の長さが残した範囲と一致しません (結果 / 期待値):",
     "Das Ergebnis ist nicht so lang wie die behaltene Zeit (Ergebnis / erwartet):"},
    {"edit.couldNotCreate", "Could not create", "作成できませんでした:", "Konnte nicht angelegt werden:"},
    {"edit.couldNotSave", "Could not save", "保存できませんでした:", "Konnte nicht gespeichert werden:"},
    {"edit.originalStaysAt", "The original stays at", "元のファイルはそのままです:", "Das Original bleibt unter"},
    {"edit.originalNoLongerAt", "The original is no longer at", "元のファイルはもうありません:",
     "Das Original liegt nicht mehr unter"},
    {"edit.originalIsAt", "The original is at", "元のファイルの場所:", "Das Original liegt unter"},
    {"edit.newFileIsAt", "the new file is at", "新しいファイルの場所:", "die neue Datei unter"},
    {"edit.originalTrashFailed", "Could not move the original to the Trash:", "元のファイルをゴミ箱に移動できませんでした:",
     "Das Original konnte nicht in den Papierkorb gelegt werden:"},
    {"edit.setAsideFailed", "Could not set the original aside:", "元のファイルを退避できませんでした:",
     "Das Original konnte nicht beiseitegelegt werden:"},
    {"error.noTrashFolder", "The Trash folder could not be found.", "ゴミ箱フォルダが見つかりませんでした。",
     "Der Papierkorb-Ordner wurde nicht gefunden."},
};

struct Entry {
    QString en;
    QString ja;
    QString de;
};

struct Table {
    QHash<QString, Entry> entries;
    QStringList order;
};

// Built on first use; C++ guarantees the one-time, thread-safe initialisation of a
// function-local static, and the table is read-only afterwards.
const Table &table()
{
    static const Table built = [] {
        Table t;
        t.entries.reserve(int(std::size(kRows)));
        for (const Row &row : kRows) {
            const QString key = QString::fromUtf8(row.key);
            if (t.entries.contains(key))
                qFatal("L10n: duplicate text key %s", row.key);
            t.entries.insert(key, Entry{QString::fromUtf8(row.en), QString::fromUtf8(row.ja), QString::fromUtf8(row.de)});
            t.order.append(key);
        }
        return t;
    }();
    return built;
}

const QString kLanguageSettingKey = QStringLiteral("Lumenkite.language");

} // namespace

namespace AppLanguageInfo {

QString rawValue(AppLanguage language)
{
    switch (language) {
    case AppLanguage::en: return QStringLiteral("en");
    case AppLanguage::ja: return QStringLiteral("ja");
    case AppLanguage::de: return QStringLiteral("de");
    }
    return QStringLiteral("en");
}

std::optional<AppLanguage> fromRawValue(const QString &raw)
{
    for (AppLanguage language : allCases()) {
        if (raw == rawValue(language))
            return language;
    }
    return std::nullopt;
}

AppLanguage resolve(const QString &stored, const QStringList &preferredLanguages)
{
    if (const auto explicitChoice = fromRawValue(stored))
        return *explicitChoice;
    // Only the first preferred language counts, so a German second choice behind
    // an unsupported first one still gives English.
    const QString first = preferredLanguages.isEmpty() ? QStringLiteral("en") : preferredLanguages.first().toLower();
    if (first.startsWith(QLatin1String("ja")))
        return AppLanguage::ja;
    if (first.startsWith(QLatin1String("de")))
        return AppLanguage::de;
    return AppLanguage::en;
}

AppLanguage current()
{
    // Read afresh each time; callers that draw often pass the state's language instead.
    QSettings settings(QStringLiteral("Lumenkite"), QStringLiteral("Lumenkite"));
    const QVariant stored = settings.value(kLanguageSettingKey);
    const QString storedText = stored.typeId() == QMetaType::QString ? stored.toString() : QString();
    return resolve(storedText, QLocale::system().uiLanguages());
}

QString uiLocaleName(AppLanguage language)
{
    switch (language) {
    case AppLanguage::en: return QStringLiteral("en_US");
    case AppLanguage::ja: return QStringLiteral("ja_JP");
    case AppLanguage::de: return QStringLiteral("de_DE");
    }
    return QStringLiteral("en_US");
}

QString menuLabel(AppLanguage language)
{
    switch (language) {
    case AppLanguage::en: return QStringLiteral("English (US)");
    case AppLanguage::ja: return QString::fromUtf8("日本語");
    case AppLanguage::de: return QStringLiteral("Deutsch");
    }
    return QStringLiteral("English (US)");
}

const QList<AppLanguage> &allCases()
{
    static const QList<AppLanguage> cases{AppLanguage::en, AppLanguage::ja, AppLanguage::de};
    return cases;
}

} // namespace AppLanguageInfo

namespace L10n {

QString text(const QString &key, std::optional<AppLanguage> language)
{
    const Table &t = table();
    const auto it = t.entries.constFind(key);
    if (it == t.entries.cend())
        return key;
    // The stored choice is read only when no language is given: reading it opens the settings file.
    switch (language ? *language : AppLanguageInfo::current()) {
    case AppLanguage::en: return it->en;
    case AppLanguage::ja: return it->ja;
    case AppLanguage::de: return it->de;
    }
    return it->en;
}

QStringList allKeys()
{
    return table().order;
}

} // namespace L10n
