// PLACEHOLDER (owner: helper C). Minimal: only `hash=` is understood.
#include "lib/init_data_parser.hpp"
#include "lib/abort.hpp"
namespace norvik_auth::lib {
webapp_data::WebAppInitData parse_init_data(std::string_view q) {
    if (q.substr(0, 5) != "hash=") throw Abort("Hash is required");
    webapp_data::WebAppInitData d; d.hash = std::string(q.substr(5)); return d;
}
}
