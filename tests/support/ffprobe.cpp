#include "support/ffprobe.h"

#include <cjson/cJSON.h>

#include <chrono>

#include "support/program_run.h"

namespace hx::test {

namespace {

std::vector<ProbedProgram> ParsePrograms(const std::string& json) {
    std::vector<ProbedProgram> programs;
    cJSON* root = cJSON_Parse(json.c_str());
    const cJSON* list = cJSON_GetObjectItemCaseSensitive(root, "programs");
    const cJSON* item = nullptr;
    cJSON_ArrayForEach(item, list) {
        ProbedProgram program;
        auto number = [item](const char* name) {
            const cJSON* value = cJSON_GetObjectItemCaseSensitive(item, name);
            return cJSON_IsNumber(value) ? value->valueint : -1;
        };
        program.number = number("program_num");
        program.pmtPid = number("pmt_pid");
        program.pcrPid = number("pcr_pid");
        const cJSON* tags = cJSON_GetObjectItemCaseSensitive(item, "tags");
        const cJSON* name = cJSON_GetObjectItemCaseSensitive(tags, "service_name");
        program.serviceName = cJSON_IsString(name) ? name->valuestring : "";
        const cJSON* stream = nullptr;
        cJSON_ArrayForEach(stream, cJSON_GetObjectItemCaseSensitive(item, "streams")) {
            const cJSON* id = cJSON_GetObjectItemCaseSensitive(stream, "id");
            program.streamPids.push_back(cJSON_IsString(id) ? static_cast<int>(std::stoul(id->valuestring, nullptr, 16))
                                                            : -1);
        }
        programs.push_back(program);
    }
    cJSON_Delete(root);
    return programs;
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const ProbedProgram& program) {
    out << "{" << program.number << " pmt " << program.pmtPid << " pcr " << program.pcrPid << " '"
        << program.serviceName << "' [";
    for (int pid : program.streamPids) {
        out << pid << " ";
    }
    return out << "]}";
}

std::vector<ProbedProgram> ProbePrograms(const std::string& file, std::string* report) {
    ChildProgram ffprobe;
    ffprobe.Start({"ffprobe", "-v", "quiet", "-show_programs", "-of", "json", file});
    const int status = ffprobe.WaitForExit(std::chrono::seconds(60));
    if (report != nullptr) {
        *report = ffprobe.Output() + (status == 0 ? "" : "\n[ffprobe (Debian ffmpeg) did not run or failed]");
    }
    return status == 0 ? ParsePrograms(ffprobe.Output()) : std::vector<ProbedProgram>{};
}

}  // namespace hx::test
