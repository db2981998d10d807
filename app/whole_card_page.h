// The whole-card page (tab "整卡"): key search with dictionaries, reading the
// whole card, saving, opening and comparing dump files, and writing a dump
// back onto a card. The card work runs on the page's worker thread, one
// library call at a time; meanwhile the main window's other reader and card
// controls are disabled.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QWidget>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "card/card_image.h"
#include "card/card_link.h"
#include "card/progress.h"
#include "card/key_search.h"
#include "card/restore.h"
#include "card/ultralight_card.h"
#include "app/whole_card_worker.h"

class CDumpView;
class CPageView;
class CParvexState;
class CSectorMap;
class QCheckBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

class CWholeCardPage : public QWidget {
    Q_OBJECT
public:
    // Holds the state's busy flag while its card work runs.
    explicit CWholeCardPage(CParvexState &state, QWidget *parent = nullptr);
    ~CWholeCardPage() override;
    // The window the page works for, set before the page is shown.
    QWidget *m_pParent = nullptr;

    // Button handlers.
    void OnAddDictionary();
    void OnSearchKeys();
    void OnStop();
    void OnReadCard();
    void OnWriteCard();
    void OnOpenFile();
    void OnSaveFile();
    // `unit` names what `known` and `total` count (块, 页).
    bool ChooseTargetForIncomplete(QString *path, int known, int total, bool partial, const QString &unit);
    // Replaces the file through the toolkit's safe replacement; false (and
    // the operator told why) when that failed.
    bool WriteSavedFile(const QString &path, std::string_view contents);
    void OnCompareFile();

    // Asks running card work to stop after its current card operation.
    void CancelCardWork();
    bool CardWorkRunning() const { return m_worker.busy(); }

    // The dump shown, if any.
    const std::optional<zelkor::card::CardImage> &shownImage() const { return m_image; }
    // The pages shown of a card of the UltraLight family, if any.
    const std::optional<zelkor::card::UltraLightImage> &shownPages() const { return m_ultralight; }

signals:
    // Card work has ended and the window's controls are back.
    void cardWorkFinished();

private:
    CParvexState &m_state;
    struct Dictionary {
        QString name;
        std::vector<zelkor::card::Key> keys;
    };

    void BuildLayout();
    void AddDictionaryItem(const Dictionary &dictionary);
    bool CheckPort();
    std::vector<zelkor::card::Key> DictionaryInUse();
    // The keys of the shown dump first (they are likely the card's), then
    // the dictionaries in use.
    std::vector<zelkor::card::Key> KeysToTry();
    bool StartCardWork(CCardWorker::Job job);
    void SetWorking(bool working);
    static zelkor::card::ProgressFn ProgressFor(const CCardWorker::ProgressSink &sink, CWholeCardPage *page);
    void ShowKeysSoFar(const std::vector<zelkor::card::SectorKeys> &keys);
    void OnProgress(const QString &stage, int done, int total);
    void OnWorkFailed(const QString &message);
    void ShowStatus(const QString &text);

    // Continuations of the card work, on the window thread.
    void ShowNoCard(const std::optional<zelkor::card::CardIdentity> &identity);
    void TakeKeys(const zelkor::card::CardIdentity &identity, const zelkor::card::KeySearchResult &result);
    void TakeDump(zelkor::card::CardImage image, bool cancelled);
    void ConfirmRestore(const zelkor::card::CardImage &card_now);
    bool OperatorConfirms(const zelkor::card::RestorePlan &careful, const zelkor::card::RestorePlan &forced);
    void StartRestore(const zelkor::card::RestorePlan &plan, const std::vector<std::uint8_t> &uid);
    void ReportRestore(const zelkor::card::RestoreReport &report, const std::vector<std::uint8_t> &uid);

    void ShowImage(zelkor::card::CardImage image);
    // A file of the UltraLight family goes into `pages` instead.
    std::optional<zelkor::card::CardImage> ReadDumpFile(const QString &caption, QString *path,
                                                        std::optional<zelkor::card::UltraLightImage> *pages);

    // The UltraLight family (whole_card_ultralight.cpp).
    CCardWorker::Continuation ReadUltraLightOnWorker(zelkor::card::CardLink &link, const zelkor::card::CardIdentity &identity,
                                                     const CCardWorker::ProgressSink &sink, std::stop_token stop);
    void TakeUltraLight(const zelkor::card::UltraLightRead &read);
    void ShowUltraLight(zelkor::card::UltraLightImage image);
    void ShowFamilyControls();
    void SaveUltraLight(const QString &path);
    void CompareUltraLight(const zelkor::card::UltraLightImage &other, const QString &path);

    QListWidget *m_pDictionaries = nullptr;
    QPushButton *m_pAddDictionary = nullptr;
    QPushButton *m_pSearch = nullptr;
    QPushButton *m_pStop = nullptr;
    QProgressBar *m_pProgress = nullptr;
    CSectorMap *m_pSectorMap = nullptr;
    CDumpView *m_pDumpView = nullptr;
    CPageView *m_pPageView = nullptr;
    QPushButton *m_pRead = nullptr;
    QPushButton *m_pWrite = nullptr;
    QCheckBox *m_pTrailers = nullptr;
    QPushButton *m_pOpen = nullptr;
    QPushButton *m_pSave = nullptr;
    QPushButton *m_pCompare = nullptr;
    QLabel *m_pStatus = nullptr;

    std::vector<Dictionary> m_dictionaries;  // item i of m_pDictionaries
    std::optional<zelkor::card::CardImage> m_image;
    std::optional<zelkor::card::UltraLightImage> m_ultralight;  // shown instead of m_image
    QString m_strStage;
    QElapsedTimer m_stageTimer;

    // Last member: destroyed first, so a running job ends before the page's
    // state goes away.
    CCardWorker m_worker;
};
