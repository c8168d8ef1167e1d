#pragma once
// The public face of remote/: the object model, data blocks, transport,
// interpreter, connection and the server-side session.

#include "remote/AppServer.h"
#include "remote/AppServerDispatcher.h"
#include "remote/ClassRegistry.h"
#include "remote/DataBlock.h"
#include "remote/DataBlockInterpreter.h"
#include "remote/Dispatch.h"
#include "remote/DispatchAppServer.h"
#include "remote/Errors.h"
#include "remote/MessageLoop.h"
#include "remote/Ref.h"
#include "remote/SafeArray.h"
#include "remote/ServerSession.h"
#include "remote/SocketConnection.h"
#include "remote/SocketTransport.h"
#include "remote/Variant.h"
