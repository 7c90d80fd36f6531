#include "messages/message_content.h"

#include <stdlib.h>
#include <string.h>

#include <initializer_list>

#include "json/json_io.h"
#include "runtime/assert.h"

namespace {

char* Copy(const char* s)
{
    return s ? strdup(s) : nullptr;
}

}  // namespace

MessageContent::MessageContent(unsigned type, unsigned long long addsTo, unsigned long long repliesTo,
                               const char* author, const char* topic, const char* tdn, const char* text,
                               const char* guid)
    : discussionId(addsTo), type(type), addsTo(addsTo), repliesTo(repliesTo), author(Copy(author)),
      topic(Copy(topic)), tdn(Copy(tdn)), text(Copy(text)), guid(Copy(guid)), authorKey(CaselessKey(author)),
      topicKey(CaselessKey(topic))
{
}

void MessageContent::SetAuthor(const char* value)
{
    ReplaceString(author, value);
    authorKey = CaselessKey(value);
}

void MessageContent::SetTopic(const char* value)
{
    ReplaceString(topic, value);
    topicKey = CaselessKey(value);
}

MessageContent::~MessageContent()
{
    for (char* s : {author, topic, tdn, text, guid}) free(s);
}

MessageContent* MessageContentShare(MessageContent* content)
{
    ASSERT(content, "MessageContent shared without content");
    content->useCount++;
    return content;
}

void MessageContentRelease(MessageContent* content)
{
    ASSERT(content->useCount > 0, "MessageContent released without a share");
    if (--content->useCount == 0) delete content;
}

bool MessageTextFits(const char* text)
{
    // The other members of a row (names, numbers, the "src") take less than the rest.
    return json_io::escaped_length(text) <= 48 * 1024;
}
