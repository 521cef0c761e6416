#pragma once
// Handle types of the NPAPI adapter.

#include <memory>

namespace FB { namespace Npapi {

class NpapiPluginModule;
class NpapiBrowserHost;
class NPObjectAPI;
class NPJavascriptObject;
class NpapiStream;

using NpapiBrowserHostPtr = std::shared_ptr<NpapiBrowserHost>;
using NpapiBrowserHostWeakPtr = std::weak_ptr<NpapiBrowserHost>;
using NPObjectAPIPtr = std::shared_ptr<NPObjectAPI>;

}} // namespace FB::Npapi
