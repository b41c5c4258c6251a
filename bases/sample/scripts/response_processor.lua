-- ResponseProcessor(response): a tracker that could not be blocked still
-- gets no new cookie.

local function ResponseProcessor(response)
  local cookies = response:GetFieldValues("Set-Cookie")
  if #cookies == 0 then
    return
  end
  response:RemoveField("Set-Cookie")
  if DntEngine.IS_VERBOSE_TRACE_ENABLED then
    DntEngine.Log("removed ", #cookies, " tracking cookie(s)")
  end
end

DntResponseProcessor = ResponseProcessor

local function Registrator()
  return "ResponseProcessor"
end

-- The initializer names the global that holds the entry point.
return Registrator, "DntResponseProcessor"
