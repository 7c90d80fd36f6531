#pragma once

#include <stddef.h>

// A statement prepared on the server, whose positional parameters are set by
// index. Each SetParam replaces the value of one parameter; a value of a type
// the parameter was not declared with is a fatal assertion. Null pointers set
// the parameter to SQL NULL. The owner deletes the statement when done;
// executions already queued keep their own copy of the values.
class IPreparedStatement {
public:
    virtual ~IPreparedStatement() {}
    virtual void SetParam(unsigned idx, int value) = 0;
    virtual void SetParam(unsigned idx, unsigned value) = 0;
    virtual void SetParam(unsigned idx, long long value) = 0;
    virtual void SetParam(unsigned idx, unsigned long long value) = 0;
    virtual void SetParam(unsigned idx, bool value) = 0;
    virtual void SetParam(unsigned idx, double value) = 0;
    virtual void SetParam(unsigned idx, int* value) = 0;
    virtual void SetParam(unsigned idx, unsigned* value) = 0;
    virtual void SetParam(unsigned idx, long long* value) = 0;
    virtual void SetParam(unsigned idx, unsigned long long* value) = 0;
    virtual void SetParam(unsigned idx, bool* value) = 0;
    virtual void SetParam(unsigned idx, double* value) = 0;
    virtual void SetParam(unsigned idx, const char* value) = 0;
    virtual void SetParam(unsigned idx, const unsigned char* data, size_t len) = 0;
};
