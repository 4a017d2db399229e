#include "tools/lumopack/commands.h"

namespace lumo {

bool take_option(CommandArguments args, size_t& i, std::string_view name, std::string& value) {
    const std::string& arg = args[i];
    if (arg == name) {
        if (i + 1 >= args.size()) throw UsageError(std::string(name) + " needs a value");
        value = args[++i];
        return true;
    }
    if (arg.size() > name.size() && arg.starts_with(name) && arg[name.size()] == '=') {
        value = arg.substr(name.size() + 1);
        return true;
    }
    return false;
}

}  // namespace lumo
