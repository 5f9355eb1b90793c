#pragma once

// What the visual search needs of a CLIP text encoder: the embedding of a query's prompts.
// The model service implements it; tests give a fake whose similarities they choose.

#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QueryTextEmbedder
{
public:
    virtual ~QueryTextEmbedder() = default;
    // The unit-length sum of the texts' embeddings, skipping texts that could not be
    // embedded; none when none could.
    virtual std::optional<std::vector<float>> textEmbedding(const QStringList &texts) = 0;
};

// Gives the encoder in use at the time of a search, or null when no model is loaded.
using QueryTextEmbedderProvider = std::function<std::shared_ptr<QueryTextEmbedder>()>;
