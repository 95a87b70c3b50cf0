#ifndef VURUDE_BASE_REQUEST_H
#define VURUDE_BASE_REQUEST_H

// The base of every request object a connection serves. A connection owns
// its current request and deletes it with itself.
class Vurude_Base_Request
{
public:
  virtual ~Vurude_Base_Request () = default;
};

#endif
