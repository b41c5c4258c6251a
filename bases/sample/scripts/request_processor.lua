-- RequestProcessor(request, sessionFlag, domain, addDntHeader): finds the
-- tracking service a request belongs to, blocks it when the settings ask for
-- that, and remembers the outcome for GetVerdict.

DntSession = DntSession or {}

local function FirstBug(url)
  local bugs = DntEngine.MatchBugRules(url)
  if #bugs == 0 then
    return nil
  end
  local exceptions, partner, incompatible = DntEngine.MatchBugExceptions(url, true)
  if partner and DntEngine.SHOULD_EXCLUDE_PARTNER_SITES then
    return nil
  end
  if incompatible and DntEngine.SHOULD_EXCLUDE_INCOMPATIBLE_SITES then
    return nil
  end
  for _, bug in ipairs(bugs) do
    if not exceptions[bug] then
      return bug
    end
  end
  return nil
end

local function RequestProcessor(request, sessionFlag, domain, addDntHeader)
  if addDntHeader then
    request:SetField("DNT", "1")
  end

  local url = request:GetRequestUrl()
  local bug = FirstBug(url)
  if bug == nil then
    return false
  end

  local service = DntEngine.GetBugService(bug)
  if DntEngine.IS_VERBOSE_TRACE_ENABLED then
    local _, _, name = DntEngine.GetServiceInfo(service)
    DntEngine.Log("tracking request of ", name, " on ", domain, ": ", url)
  end

  local verdict = DntEngine.VERDICT_DETECTED
  if DntEngine.IsServiceBlockingEnabled(service) then
    request:SetForbiddenResponse("403 Forbidden", "")
    verdict = DntEngine.VERDICT_BLOCKED
  end
  if DntSession.service == nil or verdict > DntSession.verdict then
    DntSession.service = service
    DntSession.verdict = verdict
  end
  -- Cookies set by a detected tracker are stripped from its responses.
  return verdict == DntEngine.VERDICT_DETECTED
end

return "RequestProcessor", function()
  return RequestProcessor
end
