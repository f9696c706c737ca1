#include "platform/backends/qt/qt_help.h"

#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QTemporaryDir>
#include <QtCore/QUrl>
#include <QtHelp/QHelpContentItem>
#include <QtHelp/QHelpContentModel>
#include <QtHelp/QHelpContentWidget>
#include <QtHelp/QHelpEngine>
#include <QtWidgets/QSplitter>
#include <QtWidgets/QTextBrowser>

#include <memory>

namespace ferolt::backend::qt
{
namespace
{
// Pages and their pictures come out of the help file; other links open in the desktop's browser.
class HelpBrowser : public QTextBrowser
{
public:
    HelpBrowser(QHelpEngine* engine, QWidget* parent) : QTextBrowser(parent), engine_(engine)
    {
        setOpenExternalLinks(true);
    }

    QVariant loadResource(int type, const QUrl& url) override
    {
        if (url.scheme() == "qthelp") return engine_->fileData(url);
        return QTextBrowser::loadResource(type, url);
    }

private:
    QHelpEngine* engine_;
};

class CompressedHelpWindow : public QSplitter
{
public:
    // The engine keeps its own copy of the file and a collection of one in a folder of the window's.
    static CompressedHelpWindow* Open(const QString& file)
    {
        auto folder = std::make_unique<QTemporaryDir>();
        if (!folder->isValid()) return nullptr;
        const QString copy = folder->filePath("help.qch");
        if (!QFile::copy(file, copy)) return nullptr;
        auto* window = new CompressedHelpWindow(std::move(folder), copy);
        if (window->namespace_.isEmpty())
        {
            delete window;
            return nullptr;
        }
        return window;
    }

    QHelpEngine* engine() const { return engine_; }
    HelpBrowser* browser() const { return browser_; }

private:
    CompressedHelpWindow(std::unique_ptr<QTemporaryDir> folder, const QString& copy)
        : folder_(std::move(folder))
    {
        setAttribute(Qt::WA_DeleteOnClose, false);
        engine_ = new QHelpEngine(folder_->filePath("help.qhc"), this);
        // The collection is the window's own and gets the file registered, so it must be writable.
        engine_->setReadOnly(false);
        if (!engine_->setupData()) return;
        const QString space = QHelpEngineCore::namespaceName(copy);
        if (space.isEmpty() || !engine_->registerDocumentation(copy)) return;
        namespace_ = space;
        QHelpContentWidget* contents = engine_->contentWidget();
        browser_ = new HelpBrowser(engine_, this);
        addWidget(contents);
        addWidget(browser_);
        setStretchFactor(1, 3);
        resize(860, 600);
        connect(contents, &QHelpContentWidget::linkActivated, browser_,
                [this](const QUrl& url) { browser_->setSource(url); });
        connect(browser_, &QTextBrowser::sourceChanged, this,
                [this]
                {
                    setWindowTitle(browser_->documentTitle().isEmpty() ? QStringLiteral("Hilfe")
                                                                       : browser_->documentTitle());
                });
        // The contents are built in the background; the first entry is the start page.
        connect(engine_->contentModel(), &QHelpContentModel::contentsCreated, this,
                [this, contents]
                {
                    contents->expandAll();
                    QHelpContentItem* first =
                        engine_->contentModel()->contentItemAt(engine_->contentModel()->index(0, 0));
                    if (first && browser_->source().isEmpty()) browser_->setSource(first->url());
                });
        engine_->contentModel()->createContents(QString());
    }

    std::unique_ptr<QTemporaryDir> folder_;
    QHelpEngine* engine_ = nullptr;
    HelpBrowser* browser_ = nullptr;
    QString namespace_;
};

bool IsCompressedHelp(const QString& file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) && f.read(16) == QByteArray("SQLite format 3", 16);
}
} // namespace

QWidget* ShowHelpWindow(QWidget* previous, const QString& file)
{
    if (!QFileInfo(file).isFile()) return nullptr;
    QWidget* window = nullptr;
    if (IsCompressedHelp(file))
    {
        // A help file of its own each time: the engine's collection is made for that one file.
        delete previous;
        window = CompressedHelpWindow::Open(file);
        if (!window) return nullptr;
    }
    else
    {
        auto* browser = qobject_cast<QTextBrowser*>(previous);
        if (!browser)
        {
            delete previous;
            browser = new QTextBrowser();
            browser->setAttribute(Qt::WA_DeleteOnClose, false);
            browser->setOpenExternalLinks(true);
            browser->resize(720, 560);
        }
        browser->setSource(QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath()));
        browser->setWindowTitle(browser->documentTitle().isEmpty() ? QFileInfo(file).fileName()
                                                                   : browser->documentTitle());
        window = browser;
    }
    window->show();
    window->raise();
    return window;
}
} // namespace ferolt::backend::qt
