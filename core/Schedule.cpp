#include "core/Schedule.h"

#include <cstdlib>
#include <string>

#include "core/HtmlText.h"
#include "core/MusicDB.h"
#include "core/Token.h"
#include "platform/html/HtmlDocument.h"

namespace {

// Minutes of one day, so a slot stored as 1500 is 01:00 of the next day.
int MinuteOfDay(int minutes) {
  const int m = minutes % ScheduleItem::kMinutesPerDay;
  return m < 0 ? m + ScheduleItem::kMinutesPerDay : m;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// The next token read as a decimal number (atoi: no digits read as 0).
int TokenNumber(CToken& token) { return std::atoi(token.GetNextToken().c_str()); }

Mix MixOf(int mixId) { return mixId > 0 ? theMusicDB.GetMix(mixId) : Mix(); }

}  // namespace

ScheduleItem::ScheduleItem(int start, int end, int mixId, int scheduleId)
    : starttime(start), endtime(end), mix(MixOf(mixId)), scheduleid(scheduleId) {}

ScheduleItem::ScheduleItem(const std::string& elementId, int start, int end, int mixId, int scheduleId)
    : ScheduleItem(start, end, mixId, scheduleId) {
  if (StartsWith(elementId, kElementPrefix)) {
    id = std::atoi(elementId.c_str() + std::char_traits<char>::length(kElementPrefix));
  }
}

ScheduleItem::ScheduleItem(const SQLiteRow& row)
    : id(row.GetInt("id")),
      starttime(row.GetInt("starttime")),
      endtime(row.GetInt("endtime")),
      mix(theMusicDB.GetMix(row.GetInt("mixid"))),
      scheduleid(row.GetInt("scheduleid")) {}

ScheduleItem::ScheduleItem(const platform::HtmlElement& element) {
  CToken token(element.GetId(), "_");
  token.GetNextToken();
  id = TokenNumber(token);
  scheduleid = TokenNumber(token);
}

void ScheduleItem::AddMixTag(const Tag& tag) { mix.AddTag(tag, true); }

void ScheduleItem::RemoveMixTag(const Tag& tag) { mix.RemoveTag(tag, true); }

bool ScheduleItem::Contains(int minute) const {
  const int start = MinuteOfDay(starttime);
  const int end = MinuteOfDay(endtime);
  const int m = MinuteOfDay(minute);
  if (start < end) return start <= m && m < end;
  return m >= start || m < end;
}

std::string ScheduleItem::FormatTime(int minutes) const {
  int hours = minutes / 60;
  if (hours > 12 && scheduleid >= 1 && scheduleid <= 10) hours %= 12;
  return FormatText("%2d:%02d", hours, minutes % 60);
}

std::string ScheduleItem::GetElementId() const { return FormatText("%s%d", kElementPrefix, id); }

std::string ScheduleItem::GetDeleteElementId() const {
  return FormatText("%s%d_%d", kDeleteElementPrefix, id, scheduleid);
}

std::string ScheduleItem::GetHtml() const {
  const std::string element = GetElementId();
  // Names come from the library and the user: a quote in one must not end
  // the attributes that the page reads after it.
  const std::string description = HtmlText(mix.GetDescription());
  const char* e = element.c_str();
  std::string html = FormatText(
      "<div class=\"scheduleitem\" id=\"%s\" start=\"%d\" end=\"%d\" mix=\"%s\" mixid=\"%d\" "
      "scheduleid=\"%d\">\n<div class=\"itemtitle\" title='Drag to change the schedule time'>"
      "<div class=\"windowcontrols\"><a href=\"#\" title='remove from schedule' class=\"deleteitem\" "
      "id=\"%s\">x</a></div>\n<div class=\"itemmix\" id=\"itemmix_%s\"><a href=\"#\"  title='Choose "
      "a mix or playlist for this timeslot' onmouseover=\"mixover('itemmix_%s')\"  "
      "onclick=\"mixclick('mixchanger','itemmix_%s');\" onmouseout=\"mixout('itemmix_%s')\"><img  "
      "id=\"itemmix_%s_img\" class=\"mixdropdown\" align=\"bottom\" border=\"0\" "
      "src=\"skin/automator_mix.gif\"><span> %s </span></a></div><span class=\"nicetime\">%s - "
      "%s</span>",
      e, starttime, endtime, description.c_str(), mix.GetId(), scheduleid, GetDeleteElementId().c_str(), e, e, e, e, e,
      HtmlText(mix.GetDisplayName()).c_str(), FormatTime(starttime).c_str(), FormatTime(endtime).c_str());
  if (mix.IsLibraryMix()) {
    html += FormatText(
        "</div>\n<div class=\"itemdesc\"><a href=\"#\" title='Click here to fine tune your music "
        "selection' onclick=\"selectorclick('mixselect','itemmix_%s', 'itemmix_%d');\"><img "
        "class=\"selectdropdown\" align=\"bottom\" border=\"0\" "
        "src=\"skin/automator_selector.gif\">%s</a></div>\n",
        e, mix.GetId(), description.c_str());
  } else {
    // The title block is closed here too, so the next item is not nested in this one.
    html += FormatText("</div>\n<div class=\"itemdesc\"><span>%s</span></div>\n", description.c_str());
  }
  html +=
      "<div class=\"itemresize\" title='Drag to make the timeslot longer'><img "
      "src=\"skin/resize.gif\"></div>\n</div>\n";
  return html;
}

Schedule::Schedule(const SQLiteRow& row)
    : id(row.GetInt("id")),
      name(row.Get("name")),
      monday(row.GetInt("monday") != 0),
      tuesday(row.GetInt("tuesday") != 0),
      wednesday(row.GetInt("wednesday") != 0),
      thursday(row.GetInt("thursday") != 0),
      friday(row.GetInt("friday") != 0),
      saturday(row.GetInt("saturday") != 0),
      sunday(row.GetInt("sunday") != 0),
      type(row.GetInt("type")),
      duration(row.GetInt("duration")) {
  LoadItems();
}

bool Schedule::AppliesOn(int day) const {
  switch (day) {
    case ScheduleSunday:
      return sunday;
    case ScheduleMonday:
      return monday;
    case ScheduleTuesday:
      return tuesday;
    case ScheduleWednesday:
      return wednesday;
    case ScheduleThursday:
      return thursday;
    case ScheduleFriday:
      return friday;
    case ScheduleSaturday:
      return saturday;
    default:
      return false;
  }
}

void Schedule::LoadItems() {
  items.clear();
  theMusicDB.GetScheduleItems(id, items);
}

bool Schedule::HasItemAt(int day, int minute) const {
  if (!AppliesOn(day)) return false;
  for (const ScheduleItem& item : items) {
    if (item.Contains(minute)) return true;
  }
  return false;
}

Mix Schedule::GetMixAt(int day, int minute) const {
  if (AppliesOn(day)) {
    for (const ScheduleItem& item : items) {
      if (item.Contains(minute)) return item.GetMix();
    }
  }
  return Mix();
}

std::string Schedule::GetGeneratorListHtml() const {
  if (name.empty()) return std::string();
  const std::string listId = FormatText("%d_:_setplaylist", id);
  const std::string durationText = FormatText("%d hours and %d minutes", duration / 60, duration % 60);
  const std::string shown = HtmlText(name);
  return FormatText(
      "<div class=\"playlistwrap\" title=\"Use schedule for %s\"  id=\"%s\" "
      "onclick=\"ypSlideOutMenu.hideAll();\" "
      "onMouseOver=\"this.style.backgroundColor='#adab22';\" "
      "onMouseOut=\"this.style.backgroundColor='#ffffff';\"> <a href=\"#\" id=\"%s_:_del\" "
      "title=\"Delete this schedule\" class=\"playlistdel\">X</a> <a href=\"#\" "
      "onclick=\"this.parentNode.click()\" title=\"Load schedule\">%s</a> <div "
      "class='playlisttime' onclick=\"this.parentNode.click()\">%s</div></div>",
      shown.c_str(), listId.c_str(), listId.c_str(), shown.c_str(), durationText.c_str());
}
