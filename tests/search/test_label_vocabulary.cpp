// The labels the model is offered for a frame decide which scene tags a video can ever get.

#include "search/KeyframeIndexPipeline.h"
#include "search/VisualSearchService.h"

#include <gtest/gtest.h>

#include <QSet>

namespace kip = KeyframeIndexPipeline;

TEST(LabelVocabulary, EveryTagOfTheTableAndEverySearchedWordCanBeALabel)
{
    const QStringList &vocabulary = kip::labelVocabulary();
    const QSet<QString> unique(vocabulary.cbegin(), vocabulary.cend());
    EXPECT_EQ(unique.size(), vocabulary.size()) << "a label is offered twice";

    // A label found with confidence gives its tag: every tag of the table is reachable.
    QSet<QString> reachable;
    for (const QString &label : vocabulary)
        for (const QString &tag : kip::displayTags({{label.toLower(), 0.9f}}, 0)) reachable.insert(tag);
    const QHash<QString, QString> &table = VisualSearchService::labelTranslationTR();
    for (auto it = table.cbegin(); it != table.cend(); ++it)
        EXPECT_TRUE(reachable.contains(it.value())) << it.key().toStdString() << " -> " << it.value().toStdString();

    // The words searches look for are all still offered.
    for (const KeywordLabelGroup &group : VisualSearchService::keywordLabelTable())
        for (const QString &word : group.labelWords) EXPECT_TRUE(unique.contains(word)) << word.toStdString();
}
