// The floor: a bare Qt Widgets program that does the visible work of ours and nothing else, so
// that scripts/overhead.sh can tell what our logic costs on top of what any Qt program showing
// the same things must pay. Same window, menus and pages, the same Japanese text in the same
// fonts, two 302×48 strip charts scrolled one column per tick, a tray icon set every tick and a
// two-column list rebuilt every tick from the window manager's client list. No statistics
// source, no error handling, no platform layer: the list comes from xcb directly.
//
//   floor [INTERVAL_MS]      (default 1000)

#include <pwd.h>
#include <unistd.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_set>
#include <vector>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QFont>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QtGui/qguiapplication_platform.h>

namespace {

// ---- the figures -------------------------------------------------------------------------------

struct CpuTimes {
    unsigned long long busy = 0, total = 0;
};

CpuTimes ReadCpu()
{
    CpuTimes t;
    if (FILE* f = std::fopen("/proc/stat", "r")) {
        unsigned long long v[8] = {};
        if (std::fscanf(f, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &v[0], &v[1], &v[2],
                        &v[3], &v[4], &v[5], &v[6], &v[7]) >= 4) {
            for (auto x : v)
                t.total += x;
            t.busy = t.total - v[3] - v[4];
        }
        std::fclose(f);
    }
    return t;
}

struct Memory {
    unsigned long long totalBytes = 0;
    int load = 0;
};

Memory ReadMemory()
{
    unsigned long long total = 0, available = 0;
    if (FILE* f = std::fopen("/proc/meminfo", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, f)) {
            unsigned long long v = 0;
            if (std::sscanf(line, "MemTotal: %llu", &v) == 1)
                total = v;
            else if (std::sscanf(line, "MemAvailable: %llu", &v) == 1)
                available = v;
        }
        std::fclose(f);
    }
    Memory m;
    m.totalBytes = total * 1024;
    m.load = total ? static_cast<int>(100 - available * 100 / total) : 0;
    return m;
}

// ---- a strip chart -----------------------------------------------------------------------------

// One persistent picture, scrolled a column to the left per sample; the new sample is a 2-pixel
// vertical step at the right edge, over a green grid every quarter of the height.
class Strip : public QWidget {
public:
    Strip(QRgb colour, QWidget* parent)
        : QWidget(parent), picture_(302, 48, QImage::Format_RGB32), colour_(colour)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
        picture_.fill(Qt::black);
    }

    void Add(int percent)
    {
        const int w = picture_.width();
        const int h = picture_.height();
        const int y = h - std::clamp(percent, 0, 100) * h / 100;
        ++count_;
        for (int row = 0; row < h; ++row) {
            auto* line = reinterpret_cast<QRgb*>(picture_.scanLine(row));
            std::memmove(line, line + 1, static_cast<std::size_t>(w - 1) * sizeof(QRgb));
            const bool guide =
                row == h / 4 || row == h / 2 || row == h * 3 / 4 || count_ % (h / 4) == 0;
            line[w - 1] = guide ? qRgb(0, 128, 0) : qRgb(0, 0, 0);
            if (row >= std::min(y, last_) - 1 && row <= std::max(y, last_))
                line[w - 2] = line[w - 3] = colour_;
        }
        last_ = y;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).drawImage(0, 0, picture_); }

private:
    QImage picture_;
    QRgb colour_;
    int last_ = 48;
    int count_ = 0;
};

// ---- the window list ---------------------------------------------------------------------------

// Title and owner of every client of the window manager, topmost first, one row per process.
class WindowList {
public:
    WindowList()
    {
        if (auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>())
            c_ = x11->connection();
        if (!c_)
            return;
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
        list_ = Atom("_NET_CLIENT_LIST_STACKING");
        name_ = Atom("_NET_WM_NAME");
        utf8_ = Atom("UTF8_STRING");
        pid_ = Atom("_NET_WM_PID");
    }

    std::vector<std::pair<QString, unsigned>> Rows()
    {
        std::vector<std::pair<QString, unsigned>> rows;
        if (!c_)
            return rows;
        std::vector<xcb_window_t> windows;
        if (auto* r = xcb_get_property_reply(
                c_, xcb_get_property(c_, 0, root_, list_, XCB_ATOM_WINDOW, 0, 4096), nullptr)) {
            const auto* w = static_cast<const xcb_window_t*>(xcb_get_property_value(r));
            windows.assign(w, w + xcb_get_property_value_length(r) / 4);
            std::free(r);
        }
        std::vector<xcb_get_property_cookie_t> names, pids;
        for (xcb_window_t w : windows) {
            names.push_back(xcb_get_property(c_, 0, w, name_, utf8_, 0, 256));
            pids.push_back(xcb_get_property(c_, 0, w, pid_, XCB_ATOM_CARDINAL, 0, 1));
        }
        std::unordered_set<unsigned> seen;
        for (std::size_t i = windows.size(); i-- > 0;) {
            QString title;
            if (auto* r = xcb_get_property_reply(c_, names[i], nullptr)) {
                title = QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(r)),
                                          xcb_get_property_value_length(r));
                std::free(r);
            }
            unsigned pid = 0;
            if (auto* r = xcb_get_property_reply(c_, pids[i], nullptr)) {
                if (xcb_get_property_value_length(r) == 4)
                    pid = *static_cast<const std::uint32_t*>(xcb_get_property_value(r));
                std::free(r);
            }
            if (!title.isEmpty() && seen.insert(pid).second)
                rows.emplace_back(title, pid);
        }
        return rows;
    }

private:
    xcb_atom_t Atom(const char* name)
    {
        xcb_atom_t atom = XCB_ATOM_NONE;
        const auto length = static_cast<std::uint16_t>(std::strlen(name));
        if (auto* r = xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, length, name), nullptr)) {
            atom = r->atom;
            std::free(r);
        }
        return atom;
    }

    xcb_connection_t* c_ = nullptr;
    xcb_window_t root_ = 0;
    xcb_atom_t list_ = 0, name_ = 0, utf8_ = 0, pid_ = 0;
};

// ---- the window --------------------------------------------------------------------------------

QLabel* Label(QWidget* parent, const char* text, int x, int y, int w = 0)
{
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->move(x, y);
    if (w > 0)
        label->resize(w, 12);
    else
        label->adjustSize();
    return label;
}

QPushButton* Button(QWidget* parent, const char* text, int x, int y)
{
    auto* button = new QPushButton(QString::fromUtf8(text), parent);
    button->setGeometry(x, y, 75, 25);
    return button;
}

QString UserName()
{
    if (const passwd* pw = getpwuid(getuid()))
        return QString::fromLocal8Bit(pw->pw_name);
    return {};
}

QString HostName()
{
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    return QString::fromLocal8Bit(name);
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int interval = argc > 1 ? std::max(10, std::atoi(argv[1])) : 1000;

    // The same faces and sizes as the program: a proportional Japanese face for the text, one with
    // digits of one width for the figures, a pixel smaller in the list.
    const QString family = QStringLiteral("ＭＳ Ｐゴシック");
    QFont::insertSubstitution(family, QStringLiteral("IPAPGothic"));
    QFont font(family);
    font.setPixelSize(12);
    QApplication::setFont(font);
    QFont listFont = font;
    listFont.setPixelSize(11);
    QFont figureFont(QStringLiteral("IPAGothic"));
    figureFont.setPixelSize(12);

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("floor"));
    window.setWindowFlag(Qt::WindowStaysOnTopHint);
    window.resize(320, 293);

    QMenu* file = window.menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
    file->addAction(QStringLiteral("新規実行(&G)..."));
    file->addSeparator();
    file->addAction(QStringLiteral("Windowsの終了(&Q)..."))->setEnabled(false);
    file->addSeparator();
    QAction* quit = file->addAction(QStringLiteral("ソラトキの終了(&X)"));
    QAction* top = window.menuBar()->addMenu(QStringLiteral("オプション(&O)"))
                       ->addAction(QStringLiteral("常に手前に表示(&A)"));
    top->setCheckable(true);
    top->setChecked(true);
    QMenu* frequency = window.menuBar()->addMenu(QStringLiteral("表示(&V)"))
                           ->addMenu(QStringLiteral("更新の頻度(&U)"));
    auto* group = new QActionGroup(&window);
    for (const char* text : {"高(&H)", "通常(&N)", "低(&L)"}) {
        QAction* item = frequency->addAction(QString::fromUtf8(text));
        item->setCheckable(true);
        group->addAction(item);
    }
    group->actions().at(interval == 100 ? 0 : 1)->setChecked(true);

    auto* pages = new QTabWidget;
    window.setCentralWidget(pages);

    auto* listPage = new QWidget;
    auto* listBox = new QGroupBox(listPage);
    listBox->setGeometry(0, 0, 304, 185);
    auto* list = new QTableWidget(0, 2, listBox);
    list->setGeometry(2, 14, 300, 169);
    list->setFont(listFont);
    list->horizontalHeader()->setFont(listFont);
    list->setHorizontalHeaderLabels({QStringLiteral("アプリケーション名称"), QStringLiteral("プロセスＩＤ")});
    list->verticalHeader()->hide();
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    Button(listPage, "終了", 139, 193);
    QObject::connect(Button(listPage, "閉じる(&C)", 223, 193), &QPushButton::clicked, &window,
                     &QWidget::close);
    pages->addTab(listPage, QStringLiteral("アプリケーション一覧"));

    auto* statusPage = new QWidget;
    auto* cpuChart = new Strip(qRgb(0, 255, 0), statusPage);
    cpuChart->setGeometry(1, 1, 302, 48);
    auto* memoryChart = new Strip(qRgb(255, 255, 0), statusPage);
    memoryChart->setGeometry(1, 53, 302, 48);
    auto* memoryBox = new QGroupBox(QStringLiteral("メモリ"), statusPage);
    memoryBox->setGeometry(0, 108, 105, 81);
    Label(memoryBox, "全メモリ量", 8, 17);
    QLabel* totalMemory = Label(memoryBox, "0", 8, 32, 65);
    Label(memoryBox, "Byte", 74, 32);
    Label(memoryBox, "使用率", 8, 49);
    QLabel* memoryLoad = Label(memoryBox, "0", 8, 64, 65);
    Label(memoryBox, "％", 74, 64);
    auto* systemBox = new QGroupBox(QStringLiteral("システム情報"), statusPage);
    systemBox->setGeometry(108, 108, 197, 81);
    Label(systemBox, "コンピュータ", 8, 17);
    Label(systemBox, "", 76, 17, 97)->setText(HostName());
    Label(systemBox, "ユーザー", 8, 33);
    Label(systemBox, "", 76, 33, 97)->setText(UserName());
    Label(systemBox, "CPU 情報", 8, 49);
    Label(systemBox, "586", 76, 49, 97);
    Label(systemBox, "CPU 使用率", 8, 65);
    QLabel* cpuLoad = Label(systemBox, "0", 113, 65, 36);
    Label(systemBox, "％", 154, 64);
    for (QLabel* figure : {totalMemory, memoryLoad, cpuLoad}) {
        figure->setFont(figureFont);
        figure->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    QObject::connect(Button(statusPage, "閉じる(&C)", 225, 191), &QPushButton::clicked, &window,
                     &QWidget::close);
    pages->addTab(statusPage, QStringLiteral("リソースステータス"));
    pages->setCurrentWidget(statusPage);

    std::array<QIcon, 6> levels;
    for (int i = 0; i < 6; ++i) {
        QPixmap picture(16, 16);
        picture.fill(QColor(0xC6, 0xC6, 0xC6));
        QPainter(&picture).fillRect(2, 15 - i * 3, 12, i * 3 + 1, QColor(0, 128, 0));
        levels[static_cast<std::size_t>(i)] = QIcon(picture);
    }
    QMenu trayMenu;
    QObject::connect(trayMenu.addAction(QStringLiteral("終了")), &QAction::triggered, &window,
                     &QWidget::close);
    QSystemTrayIcon tray(levels[0]);
    tray.setToolTip(QStringLiteral("ソラトキ"));
    tray.setContextMenu(&trayMenu);
    tray.show();

    QObject::connect(quit, &QAction::triggered, &window, &QWidget::close);
    QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);

    WindowList windows;
    CpuTimes last = ReadCpu();
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const Memory memory = ReadMemory();
        const CpuTimes now = ReadCpu();
        const auto total = now.total - last.total;
        const int load = total ? static_cast<int>((now.busy - last.busy) * 100 / total) : 0;
        last = now;

        memoryChart->Add(memory.load);
        cpuChart->Add(load);
        // A total wider than its label grows to the left, up to the unit beside it; measured
        // only when it changes, as any program showing it would.
        const QString totalText = QString::number(memory.totalBytes);
        if (totalText != totalMemory->text()) {
            const int width = std::max(65, totalMemory->fontMetrics().horizontalAdvance(totalText));
            const int left = std::max(0, 73 - width);
            totalMemory->setGeometry(left, 32, 73 - left, 12);
            totalMemory->setText(totalText);
        }
        memoryLoad->setText(QString::number(memory.load));
        cpuLoad->setText(QString::number(load));
        tray.setIcon(levels[static_cast<std::size_t>(std::clamp(load / 20, 0, 5))]);
        tray.setToolTip(QStringLiteral("CPU 使用率 %1%").arg(load));

        const auto rows = windows.Rows();
        list->setRowCount(static_cast<int>(rows.size()));
        for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
            const QString texts[2] = {rows[static_cast<std::size_t>(r)].first,
                                      QString::number(rows[static_cast<std::size_t>(r)].second)};
            for (int c = 0; c < 2; ++c) {
                QTableWidgetItem* item = list->item(r, c);
                if (!item)
                    list->setItem(r, c, new QTableWidgetItem(texts[c]));
                else if (item->text() != texts[c])
                    item->setText(texts[c]);
            }
        }
    });
    timer.start(interval);
    window.show();
    return app.exec();
}
