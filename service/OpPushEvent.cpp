#include "service/OpPushEvent.h"
#include "service/ServiceRes.h"
#include "common/Config.h"
#include "service/OpPullEvent.h"
#include "win/Strings.h"

OpPushEvent::OpPushEvent(const std::string& url) : CPushOp(url, "OpPushEvent", "Creating Event", "Event Created") {}

int OpPushEvent::PrepareData() {
    const std::string head = EnvelopeHead(m_strUser, m_strPassword);
    const std::string title = Escaped(m_strTitle);
    const std::string location = m_strLocation.empty() ? m_strLocation : Escaped(m_strLocation);
    const bool create = Creating();
    std::string text;
    if (create) {
        // A later occurrence of a series is not news for the activity log.
        const bool toLog = !m_fLaterOccurrence && m_fAddToActivityLog;
        text = hv::Format(
            "%s<SOAP-ENV:Body>\n<m:CreateEvent xmlns:m=\"urn:Halvane/API\">\n<m:space_id>%s</m:space_id>\n"
            "<m:title>%s</m:title>\n<m:location>%s</m:location>\n<m:internal_use_only>false</m:internal_use_only>\n"
            "<m:adjust_for_dst>false</m:adjust_for_dst>\n<m:is_description_html>false</m:is_description_html>\n"
            "<m:send_email>%s</m:send_email>\n<m:add_to_activity_log>%s</m:add_to_activity_log>\n",
            head.c_str(), m_target.m_strSpaceID.c_str(), title.c_str(), location.c_str(), TrueFalse(m_fSendEmail),
            TrueFalse(toLog));
    } else {
        text = hv::Format(
            "%s<SOAP-ENV:Body>\n<m:UpdateEvent xmlns:m=\"urn:Halvane/API\">\n<m:event_id>%s</m:event_id>\n"
            "<m:space_id>%s</m:space_id>\n<m:title>%s</m:title>\n<m:location>%s</m:location>\n"
            "<m:internal_use_only>%s</m:internal_use_only>\n<m:organizer>%s</m:organizer>\n"
            "<m:adjust_for_dst>false</m:adjust_for_dst>\n<m:is_description_html>false</m:is_description_html>\n"
            "<m:send_email>%s</m:send_email>\n<m:add_to_activity_log>%s</m:add_to_activity_log>\n",
            head.c_str(), m_target.m_strID.c_str(), m_target.m_strSpaceID.c_str(), title.c_str(), location.c_str(),
            m_strInternalUse.c_str(), m_strOrganizer.c_str(), TrueFalse(m_fSendEmail), TrueFalse(m_fAddToActivityLog));
    }
    std::string start, end;
    CTimeLogic::ConvertToUTC(m_start, start);
    CTimeLogic::ConvertToUTC(m_end, end);
    // "Everyone" (id -1) stands for the whole workspace and replaces any other choice.
    const std::string everyone = hv::LoadResString(IDS_EVERYONE);
    std::string ids;
    for (const CAssignee& member : m_assignees) {
        if (!member.m_fSelected) continue;
        if (member.full_name == everyone && member.user_id == "-1") {
            ids = "-1";
            break;
        }
        if (!ids.empty()) ids += ",";
        ids += member.user_id;
    }
    return WriteRequest(
        text, [](HANDLE) { return true; },
        [&](HANDLE file) {
            return WriteText(file, hv::Format("<m:start_time>%s</m:start_time><m:end_time>%s</m:end_time>\n",
                                              Escaped(start).c_str(), Escaped(end).c_str()));
        },
        ids, Method("Event"));
}

int OpPushEvent::ParseResponse() {
    return ReadAnswer(Method("Event"), &OpPullEvent::ReadEventRecord);
}
