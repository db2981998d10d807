#include "app/log_find_bar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QTextDocument>

namespace {

QPushButton *BarButton(QWidget *parent, const QString &text, const QString &name) {
    auto *button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

}  // namespace

CLogFindBar::CLogFindBar(QPlainTextEdit *log, QWidget *parent) : QWidget(parent), m_pLog(log) {
    setObjectName(QStringLiteral("logFindBar"));
    auto *label = new QLabel(QStringLiteral("查找："), this);
    m_pText = new QLineEdit(this);
    m_pText->setObjectName(QStringLiteral("logFindText"));
    m_pText->setClearButtonEnabled(true);
    label->setBuddy(m_pText);
    m_pText->setAccessibleName(QStringLiteral("在日志中查找"));
    auto *previous = BarButton(this, QStringLiteral("上一个"), QStringLiteral("logFindPrevious"));
    auto *next = BarButton(this, QStringLiteral("下一个"), QStringLiteral("logFindNext"));
    auto *close = BarButton(this, QStringLiteral("关闭"), QStringLiteral("logFindClose"));
    m_pStatus = new QLabel(this);
    m_pStatus->setObjectName(QStringLiteral("logFindStatus"));

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(label);
    row->addWidget(m_pText, 1);
    row->addWidget(previous);
    row->addWidget(next);
    row->addWidget(m_pStatus, 1);
    row->addWidget(close);

    connect(previous, &QPushButton::clicked, this, &CLogFindBar::FindPrevious);
    connect(next, &QPushButton::clicked, this, &CLogFindBar::FindNext);
    connect(close, &QPushButton::clicked, this, &CLogFindBar::Close);
    connect(m_pText, &QLineEdit::textEdited, m_pStatus, &QLabel::clear);
    hide();
}

void CLogFindBar::Open() {
    const QString selected = m_pLog->textCursor().selectedText();
    if (!selected.isEmpty() && !selected.contains(QChar::ParagraphSeparator)) m_pText->setText(selected);
    m_pStatus->clear();
    show();
    m_pText->setFocus(Qt::ShortcutFocusReason);
    m_pText->selectAll();
}

bool CLogFindBar::FindNext() { return Find(false); }

bool CLogFindBar::FindPrevious() { return Find(true); }

QString CLogFindBar::status() const { return m_pStatus->text(); }

bool CLogFindBar::Find(bool backward) {
    const QString needle = m_pText->text();
    m_pStatus->clear();
    if (needle.isEmpty()) return false;
    const QTextDocument::FindFlags flags = backward ? QTextDocument::FindBackward : QTextDocument::FindFlags();
    QTextDocument *document = m_pLog->document();
    QTextCursor found = document->find(needle, m_pLog->textCursor(), flags);
    if (found.isNull()) {
        // Go on from the other end of the log.
        QTextCursor edge(document);
        edge.movePosition(backward ? QTextCursor::End : QTextCursor::Start);
        found = document->find(needle, edge, flags);
        if (!found.isNull()) m_pStatus->setText(backward ? QStringLiteral("已从末尾继续") : QStringLiteral("已从开头继续"));
    }
    if (found.isNull()) {
        m_pStatus->setText(QStringLiteral("找不到“%1”").arg(needle));
        return false;
    }
    m_pLog->setTextCursor(found);
    m_pLog->ensureCursorVisible();
    return true;
}

void CLogFindBar::Close() {
    hide();
    m_pLog->setFocus(Qt::OtherFocusReason);
}

void CLogFindBar::keyPressEvent(QKeyEvent *event) {
    switch (event->key()) {
    case Qt::Key_Escape:
        // Closes the bar, not the window around it.
        Close();
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // On one of the bar's buttons Enter presses that button (the window does).
        if (!m_pText->hasFocus()) {
            event->ignore();
            return;
        }
        Find(event->modifiers().testFlag(Qt::ShiftModifier));
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}
