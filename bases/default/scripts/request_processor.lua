-- RequestProcessor(request, sessionFlag, domain, addDntHeader)
--
-- Finds the tracking service a request goes to and suppresses the tracking:
-- a service whose blocking is enabled (by its category or by its own
-- setting) gets a forbidden answer instead of the request; any other
-- tracker gets the request without its cookies and without the Referer that
-- tells it which page the user is on. Returns whether the response needs
-- processing, so that ResponseProcessor can strip the cookies it sets.

local FORBIDDEN = "403 Forbidden"

local function MakeRequestProcessor()
  local policy = DntEngine.Require("TrackingPolicy")

  local function Strip(request)
    policy.RemoveIfPresent(request, "Cookie")
    policy.RemoveIfPresent(request, "Referer")
    return true
  end

  -- Answers the request in place of the server; false when the host
  -- cannot, and the request then goes on like an unblocked one.
  local function Block(request, service, domain)
    if not pcall(request.SetForbiddenResponse, request, FORBIDDEN, "") then
      policy.Record(service, DntEngine.VERDICT_BLOCK_FAILED)
      policy.Log("tracking request to ", policy.ServiceName(service), " on ", domain, ": blocking failed")
      return false
    end
    policy.Record(service, DntEngine.VERDICT_BLOCKED)
    policy.Log("tracking request to ", policy.ServiceName(service), " on ", domain, ": blocked")
    return true
  end

  return function(request, sessionFlag, domain, addDntHeader)
    local url = request:GetRequestUrl()
    local service = policy.FindService(url, request:GetField("Referer"))
    local blocking = service ~= nil and DntEngine.IsServiceBlockingEnabled(service)
    if blocking and Block(request, service, domain) then
      return false
    end

    -- Whatever goes on to the server carries the user's wish, in both the
    -- old signal and the one privacy laws now recognise.
    if addDntHeader then
      request:SetField("DNT", "1")
      request:SetField("Sec-GPC", "1")
    end
    if service == nil then
      return false
    end
    if not blocking then
      policy.Record(service, DntEngine.VERDICT_DETECTED)
      policy.Log("tracking request to ", policy.ServiceName(service), " on ", domain, ": cookies and Referer removed")
    end
    return Strip(request)
  end
end

return "RequestProcessor", MakeRequestProcessor
